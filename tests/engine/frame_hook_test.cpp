// Frame-hook libraries ("vhook"): loading, arguments, and the failures that reject the option.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "engine/engine_test_util.h"
#include "support/log_capture.h"

namespace trelvix::engine {
namespace {

using test::LogCapture;
using testing::TestEngine;

class FrameHooks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::LoadLibraries(); }
};

using ArgcFn = int (*)(void*);
using ArgsFn = const char* (*)(void*);

TEST_F(FrameHooks, ArgumentsAreSplitAtBarsOrSpaces) {
  void* lib = dlopen(TRELVIX_TEST_HOOK, RTLD_NOW | RTLD_NOLOAD);
  const std::string hook = TRELVIX_TEST_HOOK;
  for (const std::string& value : {hook + "|-x|two words", hook + " -x  two"}) {
    TestEngine e;
    e.SetOption("vhook", value);
    ASSERT_EQ(e.FFrameHooks.size(), 1u) << value;
    EXPECT_TRUE(e.Fusing_vhook);
    lib = dlopen(TRELVIX_TEST_HOOK, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr);
    auto argc = reinterpret_cast<ArgcFn>(dlsym(lib, "TestHookArgc"));
    auto args = reinterpret_cast<ArgsFn>(dlsym(lib, "TestHookArgs"));
    void* ctx = e.FFrameHooks[0].ctx;
    EXPECT_EQ(argc(ctx), 3) << value;
    const std::string expected =
        value.find('|') != std::string::npos ? hook + "|-x|two words" : hook + "|-x|two";
    EXPECT_EQ(args(ctx), expected);
    e.SetOption("vhook", hook);  // a second entry, after the first
    EXPECT_EQ(e.FFrameHooks.size(), 2u);
    dlclose(lib);  // the NOLOAD reference
  }
}

TEST_F(FrameHooks, FailuresRejectTheOption) {
  LogCapture log;
  log.Allow("Failed to|cannot open|No such file");
  const std::string hook = TRELVIX_TEST_HOOK;
  const std::string noprocess = TRELVIX_TEST_HOOK_NOPROCESS;
  struct Case {
    std::string value;
    std::string logged;
  };
  const Case cases[] = {
      {"", ""},
      {"/no/such/hook.so", "/no/such/hook.so"},
      {noprocess, "Failed to find Process entrypoint in " + noprocess},
      {hook + "|fail", "Failed to Configure " + hook},
  };
  for (const Case& c : cases) {
    TestEngine e;
    try {
      e.SetOption("vhook", c.value);
      ADD_FAILURE() << "no exception for " << c.value;
    } catch (const FFmpegException& x) {
      EXPECT_EQ(std::string(x.what()), "Failed to add video hook function: " + c.value);
    }
    if (!c.logged.empty()) {
      EXPECT_TRUE(log.Contains(c.logged)) << c.logged;
    }
    EXPECT_TRUE(e.FFrameHooks.empty());
    EXPECT_FALSE(e.Fusing_vhook);
  }
}

}  // namespace
}  // namespace trelvix::engine
