// File helpers and SplitAt.
#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/file_utils.h"
#include "support/temp_dir.h"

namespace trelvix::runtime {
namespace {

TEST(Files, ReadWholeFileCountsTheTerminatingZero) {
  test::TempDir dir;
  const std::string bytes("abc\0def", 7);
  test::WriteFile(dir.File("seven"), bytes);
  test::WriteFile(dir.File("empty"), "");
  std::string contents = "stale";
  EXPECT_EQ(ReadWholeFile(dir.File("seven"), contents), 8);
  EXPECT_EQ(contents, bytes);
  EXPECT_EQ(contents.c_str()[7], '\0');
  EXPECT_EQ(ReadWholeFile(dir.File("empty"), contents), 1);
  EXPECT_EQ(contents, "");
  contents = "stale";
  EXPECT_EQ(ReadWholeFile(dir.File("missing"), contents), kReadWholeFileFailed);
  EXPECT_EQ(contents, "");
  EXPECT_EQ(ReadWholeFile(dir.path().string(), contents), kReadWholeFileFailed) << "a folder";
  // The system reports size 0 for this file; it is read to its end all the same.
  const std::int64_t n = ReadWholeFile("/proc/self/status", contents);
  EXPECT_GT(n, 1);
  EXPECT_EQ(n, static_cast<std::int64_t>(contents.size()) + 1);
  EXPECT_NE(contents.find("Pid:"), std::string::npos);
}

TEST(Files, SizeAndExistence) {
  test::TempDir dir;
  test::WriteFile(dir.File("seven"), "1234567");
  test::WriteFile(dir.File("empty"), "");
  std::filesystem::create_symlink(dir.File("seven"), dir.File("link"));
  EXPECT_EQ(FileSizeOf(dir.File("seven")), 7);
  EXPECT_EQ(FileSizeOf(dir.File("empty")), 0);
  EXPECT_EQ(FileSizeOf(dir.File("link")), 7);
  EXPECT_EQ(FileSizeOf(dir.File("missing")), -1);
  EXPECT_EQ(FileSizeOf(dir.path().string()), -1);
  EXPECT_TRUE(FileExists(dir.File("seven")));
  EXPECT_TRUE(FileExists(dir.File("empty")));
  EXPECT_FALSE(FileExists(dir.File("missing")));
  EXPECT_FALSE(FileExists(dir.path().string()));
}

TEST(Files, ProgramDirIsTheFolderOfThisTest) {
  const std::string dir = ProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(dir.front(), '/');
  EXPECT_TRUE(FileExists(dir + "runtime_tests"));
}

TEST(Files, SplitAt) {
  struct Case {
    std::string s;
    std::string separator;
    bool remove;
    std::string head;
    std::string rest;
  } cases[] = {
      {"a,b,c", ",", true, "a", "b,c"},
      {"a,b,c", ",", false, "a", "a,b,c"},
      {"abc", ",", true, "abc", ""},
      {"abc", ",", false, "abc", "abc"},
      {",abc", ",", true, "", "abc"},
      {"abc,", ",", true, "abc", ""},
      {"vcodec=libx264<CRLF>b=500k", "<CRLF>", true, "vcodec=libx264", "b=500k"},
      {"name=value=x", "=", true, "name", "value=x"},
      {"abc", "", true, "abc", ""},
      {"", ",", true, "", ""},
  };
  for (Case c : cases) {
    const std::string original = c.s;
    EXPECT_EQ(SplitAt(c.s, c.separator, c.remove), c.head) << original;
    EXPECT_EQ(c.s, c.rest) << original;
  }
}

}  // namespace
}  // namespace trelvix::runtime
