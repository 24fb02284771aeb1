#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "media/ff_load.h"
#include "media/ff_utils.h"
#include "media/unicode_io.h"
#include "support/temp_dir.h"

namespace trelvix::media {
namespace {

TEST(TimeText, Cases) {
  const struct {
    int64_t us;
    const char* text;
  } cases[] = {
      {3723004000LL, "01:02:03.004"}, {90000000000LL, "25:00:00.000"}, {0, "00:00:00.000"},
      {999, "00:00:00.000"},          {1500, "00:00:00.001"},          {AV_NOPTS_VALUE, "N/A"}};
  for (const auto& c : cases) EXPECT_EQ(TimeText(c.us), c.text) << c.us;
}

TEST(SizeText, Cases) {
  const struct {
    int64_t bytes;
    const char* text;
  } cases[] = {{1024, "1024 Byte"},  {1025, "1.00 KB"},       {1048576, "1024.00 KB"},
               {1048577, "1.00 MB"}, {1073741825, "1.00 GB"}, {-5, "-5 Byte"},
               {0, "0 Byte"},        {1536, "1.50 KB"}};
  for (const auto& c : cases) EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;
}

TEST(LibErrorText, EveryMeaning) {
  const struct {
    int code;
    const char* text;
  } cases[] = {{AVERROR_EOF, "End of file"},
               {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
               {AVERROR(ENOENT), "No such file or directory"},
               {AVERROR(EIO), "I/O error"},
               {AVERROR(ENOMEM), "Not enough memory"},
               {AVERROR(EDOM), "Number syntax expected in filename"},
               {AVERROR_PROTOCOL_NOT_FOUND, "Unsupported network protocol"},
               {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
               {AVERROR_DEMUXER_NOT_FOUND, "Unknown format"},
               {AVERROR_MUXER_NOT_FOUND, "Unknown format"},
               {-77, "Error number -77 occurred"}};
  for (const auto& c : cases)
    EXPECT_EQ(LibErrorText("a.avi", c.code), std::string("a.avi: ") + c.text);
}

TEST(Texts, FrameDurationAndMediaTypeNames) {
  EXPECT_EQ(FrameDuration(25, 1), 40000);
  EXPECT_EQ(FrameDuration(30000, 1001), 33366);
  EXPECT_EQ(FrameDuration(0, 1), 40000);
  EXPECT_EQ(FrameDuration(25, 0), 40000);
  EXPECT_EQ(MediaTypeName(0), "Video");
  EXPECT_EQ(MediaTypeName(4), "Attachment");
  EXPECT_EQ(MediaTypeName(5), "Unknown");
  EXPECT_EQ(MediaTypeName(-1), "Unknown");
}

TEST(Texts, CodecNameTextForKnownAndUnknownCodecs) {
  ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
  AVCodecParameters par{};
  par.codec_id = AV_CODEC_ID_MPEG4;
  EXPECT_EQ(CodecNameText(&par, false), "mpeg4(MPEG-4 part 2)");
  par.codec_id = AV_CODEC_ID_NONE;
  par.codec_tag = 0x34363258;  // "X264"
  EXPECT_EQ(CodecNameText(&par, true), "X264 / 0x34363258");
  par.codec_tag = 0x0001;
  EXPECT_EQ(CodecNameText(&par, true), "0x0001");
}

class LocaleScope {
 public:
  explicit LocaleScope(const char* name) : old_(std::setlocale(LC_ALL, nullptr)) {
    std::setlocale(LC_ALL, name);
  }
  ~LocaleScope() { std::setlocale(LC_ALL, old_.c_str()); }

 private:
  std::string old_;
};

TEST(UnicodeNames, ProtocolsAndPlainNamesStayPlain) {
  LocaleScope c("C");
  EXPECT_FALSE(NeedsUnicodeName("/tmp/plain name.avi"));
  EXPECT_FALSE(NeedsUnicodeName("http://host/zażółć.avi"));
  EXPECT_TRUE(NeedsUnicodeName("HTTP://host/zażółć.avi"));  // not on the list: a file name
  EXPECT_FALSE(NeedsUnicodeName("C:/x.avi"));               // plain characters
  const std::string name = "/tmp/zażółć gęślą.avi";
  EXPECT_TRUE(NeedsUnicodeName(name));
  const std::string lib = LibFileName(name);
  EXPECT_EQ(lib, std::string("unicode:utf8:") + name);
  EXPECT_EQ(WideFileName(lib), name);
  EXPECT_EQ(LibFileName("/tmp/plain.avi"), "/tmp/plain.avi");
}

TEST(UnicodeNames, UTF8LocaleNeedsNoUnicodeForm) {
  LocaleScope u("C.UTF-8");
  if (std::strcmp(std::setlocale(LC_ALL, nullptr), "C.UTF-8") != 0) GTEST_SKIP() << "no C.UTF-8";
  EXPECT_FALSE(NeedsUnicodeName("/tmp/zażółć.avi"));
  EXPECT_EQ(LibFileName("/tmp/zażółć.avi"), "/tmp/zażółć.avi");
}

// A one-second 8 kHz mono 16-bit WAV file.
std::string SmallWav() {
  const int rate = 8000, samples = 8000;
  std::string d;
  auto u32 = [&](uint32_t v) { d.append(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { d.append(reinterpret_cast<const char*>(&v), 2); };
  d += "RIFF";
  u32(36 + samples * 2);
  d += "WAVEfmt ";
  u32(16), u16(1), u16(1), u32(rate), u32(rate * 2), u16(2), u16(16);
  d += "data";
  u32(samples * 2);
  d.append(samples * 2, '\0');
  return d;
}

TEST(UnicodeIO, ReadsARealFileWithANonAsciiNameUnderTheCLocale) {
  ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
  LocaleScope c("C");
  test::TempDir tmp;
  const std::string path = tmp.File("dźwięk ąę.wav");
  test::WriteFile(path, SmallWav());
  const std::string lib = LibFileName(path);
  ASSERT_TRUE(IsUnicodeName(lib));
  InputFormatPtr ctx;
  UnicodeIOPtr io;
  ASSERT_EQ(OpenInputFile(ctx, io, lib, nullptr, nullptr), 0);
  ASSERT_NE(io, nullptr);
  ASSERT_GE(ff::avformat_find_stream_info(ctx.get(), nullptr), 0);
  ASSERT_EQ(ctx->nb_streams, 1u);
  EXPECT_EQ(ctx->streams[0]->codecpar->codec_id, AV_CODEC_ID_PCM_S16LE);
  EXPECT_EQ(ctx->streams[0]->codecpar->sample_rate, 8000);
  EXPECT_NEAR(static_cast<double>(ctx->duration) / AV_TIME_BASE, 1.0, 0.01);
  PacketPtr pkt = MakePacket();
  int64_t bytes = 0;
  while (ff::av_read_frame(ctx.get(), pkt.get()) >= 0) {
    bytes += pkt->size;
    ff::av_packet_unref(pkt.get());
  }
  EXPECT_EQ(bytes, 16000);
  ctx.reset();  // the context goes before its I/O
}

TEST(UnicodeIO, MissingFileAndWriting) {
  ASSERT_TRUE(FFLoader().Load(kDecoderLibraries)) << FFLoader().LastErrMsg();
  test::TempDir tmp;
  InputFormatPtr ctx;
  UnicodeIOPtr io;
  EXPECT_EQ(OpenInputFile(ctx, io, "unicode:utf8:" + tmp.File("brak ż.wav"), nullptr, nullptr),
            AVERROR(ENOENT));
  EXPECT_EQ(ctx, nullptr);
  // Write through the custom I/O and read the bytes back.
  int err = 0;
  const std::string out = tmp.File("wyjście ł.bin");
  {
    UnicodeIOPtr w = OpenUnicodeIO("unicode:utf8:" + out, AVIO_FLAG_WRITE, &err);
    ASSERT_NE(w, nullptr);
    const uint8_t bytes[] = {'a', 'b', 'c'};
    ff::avio_write(UnicodeIOContext(w.get()), bytes, 3);
  }
  EXPECT_EQ(test::ReadFile(out), "abc");
}

}  // namespace
}  // namespace trelvix::media
