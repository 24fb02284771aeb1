// Bitmap subtitles: decoded on the subtitle thread and blended into the pictures while due.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "media/ff_ptr.h"
#include "player/player_test_util.h"

namespace trelvix::player::testing {
namespace {

void Check(int ret, const char* what) {
  if (ret < 0) throw std::runtime_error(what);
}

// Copies the video of `src` into a Matroska file `dst` and adds a DVD subtitle stream with one
// opaque white box (x, y, w, h) shown from 0 to `end_ms`.
void AddBoxSubtitle(const std::string& src, const std::string& dst, int x, int y, int w, int h,
                    int end_ms) {
  AVFormatContext* raw_in = nullptr;
  Check(ff::avformat_open_input(&raw_in, src.c_str(), nullptr, nullptr), "open");
  media::InputFormatPtr in(raw_in);
  Check(ff::avformat_find_stream_info(in.get(), nullptr), "probe");
  AVFormatContext* raw_out = nullptr;
  Check(ff::avformat_alloc_output_context2(&raw_out, nullptr, "matroska", dst.c_str()), "muxer");
  media::OutputFormatPtr out(raw_out);
  AVStream* vst = ff::avformat_new_stream(out.get(), nullptr);
  Check(ff::avcodec_parameters_copy(vst->codecpar, in->streams[0]->codecpar), "copy");
  vst->codecpar->codec_tag = 0;
  vst->time_base = in->streams[0]->time_base;

  const AVCodec* codec = ff::avcodec_find_encoder(AV_CODEC_ID_DVD_SUBTITLE);
  if (!codec) throw std::runtime_error("no DVD subtitle encoder");
  media::CodecContextPtr enc(ff::avcodec_alloc_context3(codec));
  enc->width = in->streams[0]->codecpar->width;
  enc->height = in->streams[0]->codecpar->height;
  enc->time_base = {1, 1000};
  Check(ff::avcodec_open2(enc.get(), codec, nullptr), "encoder");
  AVStream* sst = ff::avformat_new_stream(out.get(), nullptr);
  Check(ff::avcodec_parameters_from_context(sst->codecpar, enc.get()), "parameters");
  sst->time_base = {1, 1000};

  Check(ff::avio_open(&out->pb, dst.c_str(), AVIO_FLAG_WRITE), "create");
  Check(ff::avformat_write_header(out.get(), nullptr), "header");

  // The subtitle: palette 0 transparent, 1 opaque white.
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * h, 1);
  uint32_t palette[4] = {0x00000000u, 0xffffffffu, 0xff000000u, 0xff808080u};
  AVSubtitleRect rect{};
  rect.x = x;
  rect.y = y;
  rect.w = w;
  rect.h = h;
  rect.nb_colors = 4;
  rect.type = SUBTITLE_BITMAP;
  rect.data[0] = pixels.data();
  rect.linesize[0] = w;
  rect.data[1] = reinterpret_cast<uint8_t*>(palette);
  AVSubtitleRect* rects[1] = {&rect};
  AVSubtitle sub{};
  sub.format = 0;
  sub.start_display_time = 0;
  sub.end_display_time = static_cast<uint32_t>(end_ms);
  sub.num_rects = 1;
  sub.rects = rects;
  sub.pts = 0;
  std::vector<uint8_t> buf(1 << 16);
  const int size =
      ff::avcodec_encode_subtitle(enc.get(), buf.data(), static_cast<int>(buf.size()), &sub);
  Check(size, "encode");
  media::PacketPtr spkt = media::MakePacket();
  Check(ff::av_new_packet(spkt.get(), size), "packet");
  std::memcpy(spkt->data, buf.data(), static_cast<size_t>(size));
  spkt->stream_index = sst->index;
  spkt->pts = spkt->dts = 0;
  spkt->duration = end_ms;
  ff::av_packet_rescale_ts(spkt.get(), AVRational{1, 1000}, sst->time_base);
  Check(ff::av_interleaved_write_frame(out.get(), spkt.get()), "write subtitle");

  media::PacketPtr pkt = media::MakePacket();
  while (ff::av_read_frame(in.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == 0) {
      ff::av_packet_rescale_ts(pkt.get(), in->streams[0]->time_base, vst->time_base);
      pkt->stream_index = vst->index;
      pkt->pos = -1;
      Check(ff::av_interleaved_write_frame(out.get(), pkt.get()), "write video");
    }
    ff::av_packet_unref(pkt.get());
  }
  Check(ff::av_write_trailer(out.get()), "trailer");
}

TEST(SubtitleTest, ABitmapSubtitleIsBlendedWhileItIsDue) {
  LoadLibraries();
  UseDummyAudio();
  test::TempDir dir;
  test::LogCapture log;
  const std::string video = dir.File("video.mkv");
  fixtures::ClipSpec spec = SmallClip(2.0);
  spec.audio_codec.clear();
  fixtures::MakeClip(video, spec);
  const std::string clip = dir.File("subtitled.mkv");
  // Over the top row's second cell, which the pattern always keeps black.
  AddBoxSubtitle(video, clip, 48, 8, 64, 40, 800);

  TFFPlayer player;
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  EXPECT_EQ(player.SubtitleStreamIndex(), 1);
  auto box_is_white = [&] {
    const QImage img = player.Surface().Snapshot();
    if (img.isNull()) return false;
    const QRgb c = img.pixel(70, 20);
    return qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) > 200;
  };
  ASSERT_TRUE(PumpUntil(box_is_white, 3000));
  // After its end the pictures come through unchanged.
  ASSERT_TRUE(PumpUntil([&] { return SurfaceFrameNumber(player.Surface().Snapshot()) > 20; }));
  EXPECT_FALSE(box_is_white());
  player.Stop(true);
}

TEST(SubtitleTest, SwitchingTheSubtitleStreamOff) {
  LoadLibraries();
  UseDummyAudio();
  test::TempDir dir;
  test::LogCapture log;
  const std::string video = dir.File("video.mkv");
  fixtures::ClipSpec spec = SmallClip(2.0);
  spec.audio_codec.clear();
  fixtures::MakeClip(video, spec);
  const std::string clip = dir.File("subtitled.mkv");
  AddBoxSubtitle(video, clip, 48, 8, 64, 40, 1800);

  TFFPlayer player;
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  ASSERT_EQ(player.SubtitleStreamIndex(), 1);
  player.SetSubtitleStreamIndex(-1);
  EXPECT_EQ(player.SubtitleStreamIndex(), -1);
  ASSERT_TRUE(PumpUntil([&] { return SurfaceFrameNumber(player.Surface().Snapshot()) >= 0; }));
  player.SetSubtitleStreamIndex(1);  // and on again
  EXPECT_EQ(player.SubtitleStreamIndex(), 1);
  PumpFor(100);
  EXPECT_TRUE(player.Playing());
  player.Stop(true);
}

}  // namespace
}  // namespace trelvix::player::testing
