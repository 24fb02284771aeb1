// The parser on a generated corpus of mangled subtitle files: no crash, no sanitizer report
// (run it in a build with -DTRELVIX_SANITIZE=address,undefined).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "parser_exercise.h"

namespace trelvix::subtitles::test {
namespace {

std::string Mangle(std::string s, std::mt19937& rng) {
  static const char kSpecial[] = "{}[]|:<>=,;\\N/$#\"\r\n\x80\xFF\xC5\xBF\xEF\xBB 0123456789";
  std::uniform_int_distribution<int> op(0, 6), any_byte(0, 255),
      special(0, int(sizeof(kSpecial)) - 2);
  const int edits = 1 + int(rng() % 8);
  for (int e = 0; e < edits; ++e) {
    const size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (op(rng)) {
      case 0:
        if (at < s.size()) s[at] = char(any_byte(rng));
        break;
      case 1:
        s.insert(at, 1, kSpecial[special(rng)]);
        break;
      case 2:
        if (at < s.size()) s.erase(at, 1 + rng() % 16);
        break;
      case 3:
        s.resize(at);
        break;
      case 4:
        s.insert(at, s.substr(0, std::min<size_t>(s.size(), 200)));
        break;
      case 5:
        s.insert(at, std::string(1 + rng() % 400, kSpecial[special(rng)]));
        break;
      default:
        if (at < s.size()) s.insert(at, std::to_string(int64_t(rng()) * 1000003));
        break;
    }
  }
  return s;
}

TEST(MangledCorpus, ParserSurvivesEveryFile) {
  std::mt19937 rng(20240607);
  const std::vector<std::string> seeds = SeedFiles();
  for (int i = 0; i < 4000; ++i) {
    std::string file(1, char(rng() % 256));
    file += Mangle(seeds[size_t(i) % seeds.size()], rng);
    ExerciseSubtitleParser(reinterpret_cast<const uint8_t*>(file.data()), file.size());
  }
  // Empty and one-byte inputs too.
  for (int b = 0; b < 256; ++b) {
    const uint8_t one[2] = {uint8_t(b), uint8_t(255 - b)};
    ExerciseSubtitleParser(one, 1);
    ExerciseSubtitleParser(one, 2);
  }
}

// The fuzzer's seed corpus in the tree holds exactly the seed files, each behind its selector
// byte, and each of them goes through the parser.
TEST(MangledCorpus, SeedCorpusInTheTreeHoldsTheSeedFiles) {
  std::set<std::string> tree;
  for (const auto& e : std::filesystem::directory_iterator(TRELVIX_FUZZ_CORPUS_DIR)) {
    std::ifstream in(e.path(), std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GT(file.size(), 1u) << e.path();
    ExerciseSubtitleParser(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    tree.insert(file.substr(1));
  }
  const std::vector<std::string> seeds = SeedFiles();
  EXPECT_EQ(tree, std::set<std::string>(seeds.begin(), seeds.end()));
}

}  // namespace
}  // namespace trelvix::subtitles::test
