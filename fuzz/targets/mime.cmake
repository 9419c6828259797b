pw_add_fuzz_target(base64 SOURCE ${CMAKE_CURRENT_LIST_DIR}/base64.cpp LIBS pw_mime)
pw_add_fuzz_target(quoted_printable SOURCE ${CMAKE_CURRENT_LIST_DIR}/quoted_printable.cpp LIBS pw_mime)
pw_add_fuzz_target(header_words SOURCE ${CMAKE_CURRENT_LIST_DIR}/header_words.cpp LIBS pw_mime)
