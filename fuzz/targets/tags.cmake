pw_add_fuzz_target(tags SOURCE ${CMAKE_CURRENT_LIST_DIR}/tags.cpp LIBS pw_mime)
pw_add_fuzz_target(scanner SOURCE ${CMAKE_CURRENT_LIST_DIR}/scanner.cpp LIBS pw_mime)
