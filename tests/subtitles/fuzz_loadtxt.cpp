// libFuzzer entry point for the subtitle parser (built with clang only).
#include <cstddef>
#include <cstdint>

#include "parser_exercise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  trelvix::subtitles::test::ExerciseSubtitleParser(data, size);
  return 0;
}
