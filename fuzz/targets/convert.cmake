pw_add_fuzz_target(markup SOURCE ${CMAKE_CURRENT_LIST_DIR}/markup.cpp LIBS pw_convert)
pw_add_fuzz_target(document SOURCE ${CMAKE_CURRENT_LIST_DIR}/document.cpp LIBS pw_convert)
