pw_add_fuzz_target(css SOURCE ${CMAKE_CURRENT_LIST_DIR}/css.cpp LIBS pw_convert)
pw_add_fuzz_target(references SOURCE ${CMAKE_CURRENT_LIST_DIR}/references.cpp LIBS pw_convert)
