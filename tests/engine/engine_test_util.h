// Shared by the engine and option-record tests: library loading, clips made once per test binary,
// a job object whose state the tests can read, and a read-back of libx264's settings.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#include "engine/ffmpeg.h"
#include "fixtures/fixtures.h"
#include "media/ff_load.h"
#include "media/ff_ptr.h"
#include "media/ffapi.h"
#include "support/temp_dir.h"

namespace trelvix::engine::testing {

inline void LoadLibraries() {
  media::TFFLoader& loader = media::FFLoader();
  if (!loader.Loaded(media::kEncoderLibraries)) {
    ASSERT_TRUE(loader.Load(media::kEncoderLibraries));
  }
}

// Clips made on first use and kept for the rest of the binary's run.
class ClipCache {
 public:
  static ClipCache& Get() {
    static ClipCache cache;
    return cache;
  }
  const std::string& Clip(const std::string& name, const fixtures::ClipSpec& spec) {
    auto it = paths_.find(name);
    if (it != paths_.end()) return it->second;
    const std::string path = dir_.File(name);
    fixtures::MakeClip(path, spec);
    return paths_.emplace(name, path).first->second;
  }

 private:
  test::TempDir dir_;
  std::map<std::string, std::string> paths_;
};

// The usual inputs: 1 s of 320x240 video at 25 fps with 44.1 kHz stereo, and variants.
inline const std::string& AvClip() {
  fixtures::ClipSpec s = fixtures::Preset("mkv");
  s.seconds = 1.0;
  return ClipCache::Get().Clip("av.mkv", s);
}
inline const std::string& VideoOnlyClip() {
  fixtures::ClipSpec s = fixtures::VideoOnly("mkv", "mpeg4");
  s.seconds = 1.0;
  return ClipCache::Get().Clip("video_only.mkv", s);
}
inline const std::string& AudioOnlyClip() {
  fixtures::ClipSpec s = fixtures::AudioOnly("mkv", "aac");
  s.seconds = 1.0;
  return ClipCache::Get().Clip("audio_only.mkv", s);
}
inline const std::string& NtscClip() {
  fixtures::ClipSpec s = fixtures::VideoOnly("mkv", "mpeg4");
  s.seconds = 0.5;
  s.fps = AVRational{30000, 1001};
  return ClipCache::Get().Clip("ntsc.mkv", s);
}

// A job whose state the tests read directly.
class TestEngine : public TCustomFFmpeg {
 public:
  TestEngine() { ResetState(); }

  const TOutputFile& Output(int i) const { return *Foutput_files[i]; }
  TOutputStreamSetup& Stream(int file, int i) { return Foutput_files[file]->streams[i]; }
  AVFormatContext* InputContext(int i) const { return Finput_files[i].ctx.get(); }
  AVCodecContext* OptionContext(int type) const { return FOptions.avcodec_opts[type]; }
  const media::TFFOptions& Options() const { return FOptions; }
  using TCustomFFmpeg::FreeResources;
  using TCustomFFmpeg::InitDefaults;

  using TCustomFFmpeg::Faudio_bitstream_filters;
  using TCustomFFmpeg::Faudio_channels;
  using TCustomFFmpeg::Faudio_codec_name;
  using TCustomFFmpeg::Faudio_codec_tag;
  using TCustomFFmpeg::Faudio_disable;
  using TCustomFFmpeg::Faudio_drift_threshold;
  using TCustomFFmpeg::Faudio_language;
  using TCustomFFmpeg::Faudio_qscale;
  using TCustomFFmpeg::Faudio_sample_fmt;
  using TCustomFFmpeg::Faudio_sample_rate;
  using TCustomFFmpeg::Faudio_stream_copy;
  using TCustomFFmpeg::Faudio_sync_method;
  using TCustomFFmpeg::Faudio_volume;
  using TCustomFFmpeg::Fchannel_layout;
  using TCustomFFmpeg::Fcopy_initial_nonkeyframes;
  using TCustomFFmpeg::Fcopy_ts;
  using TCustomFFmpeg::Fdo_hex_dump;
  using TCustomFFmpeg::Fdo_pass;
  using TCustomFFmpeg::Fdo_pkt_dump;
  using TCustomFFmpeg::Fdts_delta_threshold;
  using TCustomFFmpeg::FEnableFilter;
  using TCustomFFmpeg::Fencoder_opts;
  using TCustomFFmpeg::Fexit_on_error;
  using TCustomFFmpeg::Fforce_fps;
  using TCustomFFmpeg::Fframe_aspect_ratio;
  using TCustomFFmpeg::Fframe_bottomBand;
  using TCustomFFmpeg::Fframe_height;
  using TCustomFFmpeg::Fframe_leftBand;
  using TCustomFFmpeg::Fframe_pix_fmt;
  using TCustomFFmpeg::Fframe_rate;
  using TCustomFFmpeg::Fframe_rightBand;
  using TCustomFFmpeg::Fframe_topBand;
  using TCustomFFmpeg::Fframe_width;
  using TCustomFFmpeg::FFrameHooks;
  using TCustomFFmpeg::Finput_codecs;
  using TCustomFFmpeg::Finput_files_ts_offset;
  using TCustomFFmpeg::Finput_files_ts_scale;
  using TCustomFFmpeg::Finput_sync;
  using TCustomFFmpeg::Finput_ts_offset;
  using TCustomFFmpeg::Finter_matrix;
  using TCustomFFmpeg::Fintra_dc_precision;
  using TCustomFFmpeg::Fintra_matrix;
  using TCustomFFmpeg::Fintra_only;
  using TCustomFFmpeg::FJoinMode;
  using TCustomFFmpeg::Flast_asked_format;
  using TCustomFFmpeg::Flimit_filesize;
  using TCustomFFmpeg::Floop_input;
  using TCustomFFmpeg::Floop_output;
  using TCustomFFmpeg::Fmax_frames;
  using TCustomFFmpeg::Fme_threshold;
  using TCustomFFmpeg::Fmeta_data_maps;
  using TCustomFFmpeg::Fmetadata;
  using TCustomFFmpeg::Fmux_max_delay;
  using TCustomFFmpeg::Fmux_preload;
  using TCustomFFmpeg::Fmuxer_opts;
  using TCustomFFmpeg::FOnAudioHook;
  using TCustomFFmpeg::FOnInputVideoHook;
  using TCustomFFmpeg::FOnOutputVideoHook;
  using TCustomFFmpeg::Fopt_programid;
  using TCustomFFmpeg::Fopt_shortest;
  using TCustomFFmpeg::Fpass_logfilename_prefix;
  using TCustomFFmpeg::Fpgmyuv_compatibility_hack;
  using TCustomFFmpeg::Fqp_hist;
  using TCustomFFmpeg::Frate_emu;
  using TCustomFFmpeg::Frecording_time;
  using TCustomFFmpeg::Frecording_timestamp;
  using TCustomFFmpeg::Fsame_quality;
  using TCustomFFmpeg::Fstart_time;
  using TCustomFFmpeg::Fstream_maps;
  using TCustomFFmpeg::Fstreamid_map;
  using TCustomFFmpeg::Fsubtitle_bitstream_filters;
  using TCustomFFmpeg::Fsubtitle_codec_name;
  using TCustomFFmpeg::Fsubtitle_codec_tag;
  using TCustomFFmpeg::Fsubtitle_disable;
  using TCustomFFmpeg::Fsubtitle_language;
  using TCustomFFmpeg::Fsubtitle_stream_copy;
  using TCustomFFmpeg::Fsws_flags;
  using TCustomFFmpeg::Fthread_count;
  using TCustomFFmpeg::Ftop_field_first;
  using TCustomFFmpeg::Fusing_vhook;
  using TCustomFFmpeg::Fverbose;
  using TCustomFFmpeg::Fvfilters;
  using TCustomFFmpeg::Fvideo_bitstream_filters;
  using TCustomFFmpeg::Fvideo_channel;
  using TCustomFFmpeg::Fvideo_codec_name;
  using TCustomFFmpeg::Fvideo_codec_tag;
  using TCustomFFmpeg::Fvideo_disable;
  using TCustomFFmpeg::Fvideo_discard;
  using TCustomFFmpeg::Fvideo_global_header;
  using TCustomFFmpeg::Fvideo_language;
  using TCustomFFmpeg::Fvideo_qscale;
  using TCustomFFmpeg::Fvideo_rc_override_string;
  using TCustomFFmpeg::Fvideo_standard;
  using TCustomFFmpeg::Fvideo_stream_copy;
  using TCustomFFmpeg::Fvideo_sync_method;
  using TCustomFFmpeg::Fvstats_filename;
};

// libx264's settings as it reports them in its first packet ("cabac=1 ref=3 ..."), after opening
// the stream's codec context the way the conversion will and encoding a few grey frames. Keys
// without a value are left out.
inline std::map<std::string, std::string> OpenAndReadX264Settings(TOutputStreamSetup& s) {
  std::map<std::string, std::string> out;
  AVCodecContext* c = s.codec.get();
  {
    std::lock_guard lock(media::CodecLock());
    const int r = ff::avcodec_open2(c, s.encoder, nullptr);
    EXPECT_EQ(r, 0) << "avcodec_open2";
    if (r < 0) return out;
  }
  media::FramePtr frame = media::MakeFrame();
  frame->format = c->pix_fmt;
  frame->width = c->width;
  frame->height = c->height;
  EXPECT_EQ(ff::av_frame_get_buffer(frame.get(), 0), 0);
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(c->pix_fmt);
  for (int p = 0; p < 4 && frame->data[p]; ++p) {
    const int rows = p == 0 ? c->height : AV_CEIL_RSHIFT(c->height, desc->log2_chroma_h);
    std::memset(frame->data[p], 128, static_cast<size_t>(frame->linesize[p]) * rows);
  }
  std::string text(reinterpret_cast<const char*>(c->extradata ? c->extradata : (const uint8_t*)""),
                   c->extradata_size);
  media::PacketPtr pkt = media::MakePacket();
  for (int i = 0; i <= 3; ++i) {
    if (i < 3) {
      frame->pts = i;
      EXPECT_EQ(ff::avcodec_send_frame(c, frame.get()), 0);
    } else {
      ff::avcodec_send_frame(c, nullptr);
    }
    while (ff::avcodec_receive_packet(c, pkt.get()) == 0) {
      text.append(reinterpret_cast<const char*>(pkt->data), pkt->size);
      ff::av_packet_unref(pkt.get());
    }
  }
  const size_t at = text.find("options: ");
  EXPECT_NE(at, std::string::npos) << "no x264 settings text";
  if (at == std::string::npos) return out;
  const size_t end = text.find('\0', at);
  std::istringstream words(text.substr(at + 9, end == std::string::npos ? end : end - at - 9));
  std::string w;
  while (words >> w) {
    const size_t eq = w.find('=');
    if (eq != std::string::npos) out[w.substr(0, eq)] = w.substr(eq + 1);
  }
  return out;
}

}  // namespace trelvix::engine::testing
