// Drives the subtitle parser and the text rules with arbitrary bytes: shared by the libFuzzer
// target and the mangled-corpus test. The first byte picks the extension and the frame rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace trelvix::subtitles::test {

void ExerciseSubtitleParser(const uint8_t* data, size_t size);

// Small files in every layout, the seeds of the corpus (without the leading selector byte). The
// fuzzer's seed corpus in the tree (fuzz_corpus/) holds the same files behind their selector.
std::vector<std::string> SeedFiles();

}  // namespace trelvix::subtitles::test
