# The main and options windows: driven offscreen with real clips and real mouse events, and the
# whole program under a private X server with real pointer clicks.
if(TARGET trelvix_window)
  add_library(trelvix_window_harness STATIC ${CMAKE_CURRENT_LIST_DIR}/window_harness.cpp)
  target_link_libraries(trelvix_window_harness PUBLIC trelvix::window trelvix::fixtures
                        trelvix::testsupport Qt6::Test GTest::gtest PRIVATE trelvix_warnings)
  # Every test binary built on the harness uses window_main.cpp, which names Qt's suppressions.
  target_compile_definitions(trelvix_window_harness PUBLIC
                             TRELVIX_QT_TSAN_SUPPRESSIONS="${CMAKE_CURRENT_LIST_DIR}/qt.tsan.supp")
  trelvix_add_gtest(window_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_main.cpp
            ${CMAKE_CURRENT_LIST_DIR}/window_workflow_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/window_progress_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/window_subtitle_track_test.cpp
    LIBS trelvix_window_harness
    LABELS threads
    OWN_MAIN)
endif()

if(TARGET trelvix-iphone)
  trelvix_add_gtest(window_x11_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_x11_test.cpp
    LIBS trelvix::fixtures Qt6::Gui
    LABELS e2e)
  add_dependencies(window_x11_tests trelvix-iphone)
  target_compile_definitions(window_x11_tests PRIVATE
                             TRELVIX_WINDOW_PROGRAM="$<TARGET_FILE:trelvix-iphone>")
endif()
