// The translation of codec options in the old libraries' form.
#include <gtest/gtest.h>

#include "engine/legacy_options.h"

namespace trelvix::engine {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct Case {
  const char* name;
  const char* value;
  bool translated;
  Pairs generic;
  Pairs encoder;
  std::vector<std::string> dropped;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name << "=" << c.value;
}

class LegacyOption : public ::testing::TestWithParam<Case> {};

TEST_P(LegacyOption, Translates) {
  const Case& c = GetParam();
  const TLegacyTranslation t = TranslateLegacyOption(c.name, c.value);
  EXPECT_EQ(t.translated, c.translated);
  EXPECT_EQ(t.generic, c.generic);
  EXPECT_EQ(t.encoder, c.encoder);
  EXPECT_EQ(t.dropped, c.dropped);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LegacyOption,
    ::testing::Values(
        Case{"partitions",
             "+parti8x8+parti4x4+partp8x8+partb8x8",
             true,
             {},
             {{"partitions", "i8x8,i4x4,p8x8,b8x8"}},
             {}},
        Case{"partitions",
             "-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8",
             true,
             {},
             {{"partitions", "none"}},
             {}},
        Case{"partitions",
             "+parti4x4-partp8x8+partx",
             true,
             {},
             {{"partitions", "i4x4"}},
             {"+partx"}},
        Case{"partitions", "i8x8,p8x8", false, {}, {}, {}},  // today's form stays
        Case{"flags2",
             "+mixed_refs+wpred+dct8x8+fastpskip",
             true,
             {},
             {{"mixed-refs", "1"}, {"weightb", "1"}, {"8x8dct", "1"}, {"fast-pskip", "1"}},
             {}},
        Case{"flags2",
             "-bpyramid-wpred-mixed_refs-dct8x8+fastpskip",
             true,
             {},
             {{"b-pyramid", "none"},
              {"weightb", "0"},
              {"mixed-refs", "0"},
              {"8x8dct", "0"},
              {"fast-pskip", "1"}},
             {}},
        Case{"flags2", "+bpyramid", true, {}, {{"b-pyramid", "normal"}}, {}},
        Case{"flags2",
             "-dct8x8+fast+skiprd",
             true,
             {{"flags2", "+fast"}},
             {{"8x8dct", "0"}},
             {"+skiprd"}},
        Case{"flags2", "+local_header", false, {}, {}, {}},  // still generic
        Case{"flags", "+scan_offset", true, {}, {{"scan_offset", "1"}}, {}},
        Case{"flags", "+loop+scan_offset", true, {{"flags", "+loop"}}, {{"scan_offset", "1"}}, {}},
        Case{"flags", "+loop", false, {}, {}, {}},
        Case{"directpred", "1", true, {}, {{"direct-pred", "1"}}, {}},
        Case{"cqp", "0", true, {}, {{"qp", "0"}}, {}}, Case{"cqp", "-1", true, {}, {}, {}},
        Case{"subq", "7", false, {}, {}, {}}, Case{"coder", "1", false, {}, {}, {}}));

TEST(SplitFlags, SignsAndNames) {
  const std::vector<std::pair<char, std::string>> expected = {{'+', "a"}, {'-', "b"}, {'+', "c"}};
  EXPECT_EQ(SplitFlags("+a-b+c"), expected);
  const std::vector<std::pair<char, std::string>> bare = {{0, "a"}, {'+', "b"}};
  EXPECT_EQ(SplitFlags("a+b"), bare);
  EXPECT_TRUE(SplitFlags("").empty());
}

}  // namespace
}  // namespace trelvix::engine
