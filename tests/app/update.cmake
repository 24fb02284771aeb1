# The update check against a server on 127.0.0.1 (the server and the request run threads), on its
# own and in the real main window.
trelvix_add_gtest(update_check_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/update_check_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/runtime/local_http_server.cpp
  LIBS trelvix::update Qt6::Test
  LABELS threads)
if(TARGET trelvix_window_harness)
  trelvix_add_gtest(update_window_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_main.cpp
            ${CMAKE_CURRENT_LIST_DIR}/update_window_test.cpp
            ${PROJECT_SOURCE_DIR}/tests/runtime/local_http_server.cpp
    LIBS trelvix_window_harness
    LABELS threads
    OWN_MAIN)
endif()
