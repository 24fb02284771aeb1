# Whole conversions (worker thread, hooks, pipeline). Threaded tests carry the "threads" label so
# that a ThreadSanitizer build can run just them: ctest -L threads.
add_library(trelvix_test_counthook MODULE ${CMAKE_CURRENT_LIST_DIR}/framehook/count_hook.c)
set_target_properties(trelvix_test_counthook PROPERTIES PREFIX "" OUTPUT_NAME count_hook)

trelvix_add_gtest(engine_convert_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/convert_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/convert_options_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/video_filters_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/join_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/audio_out_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/damaged_input_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/overlap_test.cpp
  LIBS trelvix::engine trelvix::fixtures ${CMAKE_DL_LIBS}
  LABELS "unit;threads")
add_dependencies(engine_convert_tests trelvix_test_counthook)
target_compile_definitions(engine_convert_tests PRIVATE
  TRELVIX_COUNT_HOOK="$<TARGET_FILE:trelvix_test_counthook>")
