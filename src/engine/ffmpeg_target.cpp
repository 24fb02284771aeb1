// Targets: the settings of VCD, SVCD, DVD and DV outputs for a TV norm.
#include <cmath>

#include "engine/ffmpeg.h"
#include "engine/ffmpeg_messages.h"
#include "media/ff_log.h"

namespace trelvix::engine {
namespace {

// A rate of 25, 29.97 or 23.976 frames per second, in thousandths, decides the norm.
std::optional<TTargetNorm> NormOfRate(int64_t milli_fps) {
  if (milli_fps == 25000) return TTargetNorm::PAL;
  if (milli_fps == 29970 || milli_fps == 23976) return TTargetNorm::NTSC;
  return std::nullopt;
}

int64_t MilliFps(int num, int den) {
  return static_cast<int64_t>(std::llround(static_cast<double>(num) * 1000.0 / den));
}

}  // namespace

void TCustomFFmpeg::SetTarget(const std::string& type, const std::string& norm,
                              const std::string& fallback_norm) {
  if (type != "vcd" && type != "svcd" && type != "dvd" && type != "dv" && type != "dv50")
    throw FFmpegException(msg::kUnknownTarget);
  TTargetNorm n;
  if (norm == "pal") {
    n = TTargetNorm::PAL;
  } else if (norm == "film") {
    n = TTargetNorm::FILM;
  } else if (norm == "ntsc") {
    n = TTargetNorm::NTSC;
  } else {
    if (Fframe_rate.den == 0) throw FFmpegException(msg::kFrameRateInvalid);
    std::optional<TTargetNorm> found = NormOfRate(MilliFps(Fframe_rate.num, Fframe_rate.den));
    for (int i = 0; !found && i < Fnb_input_files; ++i) {
      const AVFormatContext* ic = Finput_files[i].ctx.get();
      for (unsigned j = 0; !found && j < ic->nb_streams; ++j) {
        const AVStream* st = ic->streams[j];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        const AVRational r = st->r_frame_rate;
        if (r.num > 0 && r.den > 0) found = NormOfRate(MilliFps(r.num, r.den));
      }
    }
    if (!found) {
      found = fallback_norm == "film"   ? TTargetNorm::FILM
              : fallback_norm == "ntsc" ? TTargetNorm::NTSC
                                        : TTargetNorm::PAL;
    }
    n = *found;
    if (Fverbose > 0)
      LogF(media::llVerbose, msg::kAssumingNorm, n == TTargetNorm::PAL ? "PAL" : "NTSC");
  }
  const bool pal = n == TTargetNorm::PAL;
  const char* rate = pal ? "25" : n == TTargetNorm::NTSC ? "30000/1001" : "24000/1001";
  const char* gop = pal ? "15" : "18";

  const auto aspect_default = [this](const char* ratio, const char* message) {
    if (Fframe_aspect_ratio == 0) {
      SetFrameAspectRatio(ratio);
      LogF(media::llInfo, "%s", message);
    }
  };

  if (type == "vcd") {
    SetVideoCodec("mpeg1video");
    SetAudioCodec("mp2");
    SetForceFormat("vcd");
    SetFrameSize(pal ? "352x288" : "352x240");
    SetFrameRate(rate);
    SetDefaultOption("g", gop);
    SetDefaultOption("b", "1150000");
    SetDefaultOption("maxrate", "1150000");
    SetDefaultOption("minrate", "1150000");
    SetDefaultOption("bufsize", "327680");
    SetDefaultOption("ab", "224000");
    Faudio_sample_rate = 44100;
    Faudio_channels = 2;
    SetDefaultOption("packetsize", "2324");
    SetDefaultOption("muxrate", "1411200");
    // Initial demux-decode delay of the VCD standard.
    Fmux_preload = 0.44f;
    aspect_default("4:3", msg::kAssuming43);
  } else if (type == "svcd") {
    SetVideoCodec("mpeg2video");
    SetAudioCodec("mp2");
    SetForceFormat("svcd");
    SetFrameSize(pal ? "480x576" : "480x480");
    SetFrameRate(rate);
    SetDefaultOption("g", gop);
    SetDefaultOption("b", "2040000");
    SetDefaultOption("maxrate", "2516000");
    SetDefaultOption("minrate", "0");
    SetDefaultOption("bufsize", "1835008");
    SetDefaultOption("flags", "+scan_offset");
    SetDefaultOption("ab", "224000");
    Faudio_sample_rate = 44100;
    if (Faudio_channels == 1) Faudio_channels = 2;
    SetDefaultOption("packetsize", "2324");
    aspect_default("4:3", msg::kAssuming43);
  } else if (type == "dvd") {
    SetVideoCodec("mpeg2video");
    SetAudioCodec("ac3");
    SetForceFormat("dvd");
    SetFrameSize(pal ? "720x576" : "720x480");
    SetFrameRate(rate);
    SetDefaultOption("g", gop);
    SetDefaultOption("b", "6000000");
    SetDefaultOption("maxrate", "9000000");
    SetDefaultOption("minrate", "0");
    SetDefaultOption("bufsize", "1835008");
    SetDefaultOption("packetsize", "2048");
    SetDefaultOption("muxrate", "10080000");
    SetDefaultOption("ab", "448000");
    Faudio_sample_rate = 48000;
    if (Faudio_channels == 1) Faudio_channels = 2;
    aspect_default("16:9", msg::kAssuming169);
  } else {  // "dv", "dv50"
    SetForceFormat("dv");
    SetFrameSize(pal ? "720x576" : "720x480");
    SetFrameRate(rate);
    const char* pix = type == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p";
    Fframe_pix_fmt = ff::av_get_pix_fmt(pix);
    Faudio_sample_rate = 48000;
    Faudio_channels = 2;
  }
}

}  // namespace trelvix::engine
