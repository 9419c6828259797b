pw_add_fuzz_target(charset_names SOURCE ${CMAKE_CURRENT_LIST_DIR}/charset_names.cpp LIBS pw_charset)
pw_add_fuzz_target(charset_convert SOURCE ${CMAKE_CURRENT_LIST_DIR}/charset_convert.cpp LIBS pw_charset)
