pw_add_fuzz_target(settings_file SOURCE ${CMAKE_CURRENT_LIST_DIR}/settings_file.cpp LIBS pw_app)
pw_add_fuzz_target(firefox_session SOURCE ${CMAKE_CURRENT_LIST_DIR}/firefox_session.cpp LIBS pw_app)
pw_add_fuzz_target(chromium_session SOURCE ${CMAKE_CURRENT_LIST_DIR}/chromium_session.cpp LIBS pw_app)
pw_add_fuzz_target(chromium_cookies SOURCE ${CMAKE_CURRENT_LIST_DIR}/chromium_cookies.cpp LIBS pw_app)
