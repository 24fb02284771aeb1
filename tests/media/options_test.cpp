#include <gtest/gtest.h>

#include "media/ff_load.h"
#include "media/ff_options.h"
#include "support/log_capture.h"

namespace trelvix::media {
namespace {

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(kEncoderLibraries)) << FFLoader().LastErrMsg();
    opts_.InitOptions(SWS_BICUBIC);
    ASSERT_TRUE(opts_.Initialized());
  }
  TFFOptions opts_;
};

TEST_F(OptionsTest, GenericCodecOptionReachesTheContextsOfItsMediaTypes) {
  EXPECT_TRUE(opts_.OptionSetDefault("g", "50"));
  EXPECT_EQ(opts_.avcodec_opts[AVMEDIA_TYPE_VIDEO]->gop_size, 50);
  EXPECT_TRUE(opts_.OptionSetDefault("ar", "22050"));
  EXPECT_EQ(opts_.avcodec_opts[AVMEDIA_TYPE_AUDIO]->sample_rate, 22050);
  ASSERT_EQ(opts_.opt_names().size(), 2u);
  EXPECT_EQ(opts_.opt_names()[0], "g");
}

TEST_F(OptionsTest, PrefixRetryRoutesVbToTheVideoBitRate) {
  EXPECT_TRUE(opts_.OptionSetDefault("vb", "700k"));
  EXPECT_EQ(opts_.avcodec_opts[AVMEDIA_TYPE_VIDEO]->bit_rate, 700000);
  EXPECT_EQ(opts_.opt_names().back(), "b");
}

TEST_F(OptionsTest, FormatAndScalerOptions) {
  EXPECT_TRUE(opts_.OptionSetDefault("probesize", "5000000"));
  EXPECT_EQ(opts_.avformat_opts->probesize, 5000000);
  EXPECT_TRUE(opts_.OptionSetDefault("sws_flags", "bilinear"));
}

TEST_F(OptionsTest, UnknownNameOrBlankIsRefusedWithoutLogging) {
  test::LogCapture log;
  EXPECT_FALSE(opts_.OptionSetDefault("no_such_option_here", "1"));
  EXPECT_FALSE(opts_.OptionSetDefault("  ", "1"));
  EXPECT_FALSE(opts_.OptionSetDefault("g", " "));
  EXPECT_TRUE(log.Messages().empty());
  EXPECT_TRUE(opts_.opt_names().empty());
}

TEST_F(OptionsTest, RefusedValueIsLoggedAsAnError) {
  test::LogCapture log;
  log.Allow("Invalid value|Unable to parse|Undefined constant");
  EXPECT_FALSE(opts_.OptionSetDefault("g", "lots"));
  EXPECT_TRUE(log.Contains("Invalid value \"lots\" for option \"g\""));
}

TEST_F(OptionsTest, ApplyContextOptionsCopiesWhatWasSet) {
  ASSERT_TRUE(opts_.OptionSetDefault("g", "33"));
  ASSERT_TRUE(opts_.OptionSetDefault("ar", "8000"));
  CodecContextPtr target(ff::avcodec_alloc_context3(nullptr));
  opts_.ApplyContextOptions(target.get(), opts_.avcodec_opts[AVMEDIA_TYPE_VIDEO],
                            AV_OPT_FLAG_VIDEO_PARAM);
  EXPECT_EQ(target->gop_size, 33);
  EXPECT_NE(target->sample_rate, 8000);  // an audio option does not reach a video context
}

}  // namespace
}  // namespace trelvix::media
