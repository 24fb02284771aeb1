# The encoder component: tasks, control and events on real conversions.
trelvix_add_gtest(encoder_component_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/component_test.cpp
                  LIBS trelvix::encoder trelvix::fixtures LABELS unit threads)
