#include <gtest/gtest.h>

#include <set>

#include "profile/output_naming.h"
#include "support/temp_dir.h"

namespace trelvix::profile {
namespace {

TEST(OutputFileName, Cases) {
  const struct {
    const char* input;
    std::set<std::string> taken;
    const char* expected;
  } cases[] = {
      {"/films/Holiday.avi", {}, "/films/Holiday_(Trelvix)_iphone.mp4"},
      {"/films/Holiday.avi",
       {"/films/Holiday_(Trelvix)_iphone.mp4", "/films/Holiday_(Trelvix_1)_iphone.mp4"},
       "/films/Holiday_(Trelvix_2)_iphone.mp4"},
      {"/films/a.b.mkv", {}, "/films/a.b_(Trelvix)_iphone.mp4"},
      {"/films/noext", {}, "/films/noext_(Trelvix)_iphone.mp4"},
      {"/fil.ms/noext", {}, "/fil.ms/noext_(Trelvix)_iphone.mp4"},
      {"/films/.hidden", {}, "/films/.hidden_(Trelvix)_iphone.mp4"},
  };
  for (const auto& c : cases) {
    const auto exists = [&](const std::string& n) { return c.taken.count(n) > 0; };
    EXPECT_EQ(OutputFileName(c.input, "_iphone.mp4", exists), c.expected) << c.input;
  }
}

TEST(OutputFileName, ChecksTheRealFolderByDefault) {
  test::TempDir tmp;
  test::WriteFile(tmp.File("Holiday_(Trelvix)_iphone.mp4"), "x");
  EXPECT_EQ(OutputFileName(tmp.File("Holiday.avi"), "_iphone.mp4"),
            tmp.File("Holiday_(Trelvix_1)_iphone.mp4"));
}

}  // namespace
}  // namespace trelvix::profile
