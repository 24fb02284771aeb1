// The progress report of a running conversion: the status line and OnProgress.
#include <array>
#include <atomic>
#include <cmath>

#include "engine/ffmpeg.h"
#include "engine/ffmpeg_messages.h"
#include "engine/transcode_streams.h"
#include "media/ff_log.h"
#include "runtime/format.h"

namespace trelvix::engine {
namespace {

// Quantiser histogram of the "qphist" option, shared by every job of the process.
std::array<std::atomic<int>, 52>& QpHistogram() {
  static std::array<std::atomic<int>, 52> hist{};
  return hist;
}

double Psnr(double d) {
  return -10.0 * std::log10(d);
}

}  // namespace

void TCustomFFmpeg::PrintReport(TTranscodeState& r, bool is_last_report, int file_index) {
  using runtime::Format;
  int64_t total_size = 0;
  if (AVIOContext* pb = Foutput_files[0]->ctx->pb) {
    total_size = ff::avio_size(pb);
    if (total_size < 0) total_size = ff::avio_seek(pb, 0, SEEK_CUR);
  }
  std::string buf;
  buf.reserve(1024);
  int frame = -1, fps = -1;
  float q = -1.0f;
  double t_min = 1e10;
  bool vid = false;
  for (auto& op : r.ost) {
    TAVOutputStream& ost = *op;
    const bool video = ost.st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    if (video) {
      const float sq = ost.setup->stream_copy || ost.last_quality < 0
                           ? -1.0f
                           : static_cast<float>(ost.last_quality) / kLambdaPerQuantiser;
      if (vid) buf += Format("q=%2.1f ", sq);
      if (!vid && ost.show_fps) {
        const double elapsed = (ff::av_gettime() - Ftimer_start) / 1e6;
        frame = ost.frame_number;
        if (frame < 1) return;
        fps = elapsed > 1 ? static_cast<int>(frame / elapsed + 0.5) : 0;
        q = ost.setup->stream_copy ? -1.0f : sq;
        buf += Format("frame=%5d fps=%3d q=%3.1f ", frame, fps, q);
        if (is_last_report) buf += "L";
        if (Fqp_hist && ost.last_quality >= 0) {
          const int qp = static_cast<int>(std::lround(q));
          if (qp >= 0 && qp < 52) ++QpHistogram()[qp];
          for (int j = 0; j < 32; ++j)
            buf += Format("%X", static_cast<int>(std::lround(std::log2(QpHistogram()[j] + 1))));
        }
        // PSNR only from figures the encoder gave: none before its first packet, and none from
        // an encoder that takes the flag but reports no errors (libx264), where the error is
        // marked -1. An error of 0 is a frame coded without loss (infinite PSNR).
        const bool has_errors = ost.last_error[0] >= 0 && (is_last_report || ost.last_quality >= 0);
        if (ost.enc && (ost.enc->flags & AV_CODEC_FLAG_PSNR) && has_errors) {
          double error_sum = 0, scale_sum = 0;
          buf += "PSNR=";
          for (int j = 0; j < 3; ++j) {
            double error = is_last_report ? static_cast<double>(ost.enc->error[j])
                                          : static_cast<double>(ost.last_error[j]);
            double scale = static_cast<double>(ost.enc->width) * ost.enc->height * 255.0 * 255.0;
            if (is_last_report) scale *= frame;
            if (j) scale /= 4;
            error_sum += error;
            scale_sum += scale;
            buf += Format("%c:%2.2f ", "YUV"[j], Psnr(error / scale));
          }
          buf += Format("*:%2.2f ", Psnr(error_sum / scale_sum));
        }
      }
      vid = true;
    }
    const double t = ost.last_pts_us / 1e6;
    if (t > 0 && t < t_min) t_min = t;
  }
  if (t_min < 0.01) t_min = 0.01;
  if (FOnProgress || Fverbose > 0 || is_last_report) {
    const double bitrate = static_cast<double>(total_size) * 8 / t_min / 1000.0;
    buf +=
        Format("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", total_size / 1024.0, t_min, bitrate);
    if (Fnb_frames_dup || Fnb_frames_drop) {
      buf += Format(" dup=%d drop=%d", Fnb_frames_dup, Fnb_frames_drop);
      if (FShowDupOrDrop && Fverbose >= 0 && FOnProgress) {
        LogF(media::llVerbose, "%s", buf.c_str());
        FShowDupOrDrop = false;
      }
    }
    if (FOnProgress)
      FOnProgress(this, file_index, frame, fps, q, static_cast<float>(bitrate), total_size,
                  static_cast<int64_t>(t_min * 1000000), FTotalOutputDuration);
    else if (Fverbose >= 0)
      LogF(media::llVerbose, "%s", buf.c_str());
  }
  if (is_last_report && Fverbose >= 0) {
    const double raw = static_cast<double>(Fvideo_size + Faudio_size + Fextra_size);
    LogF(media::llVerbose, msg::kFinalSizes, Fvideo_size / 1024.0, Faudio_size / 1024.0,
         Fextra_size / 1024.0, raw > 0 ? (total_size - raw) * 100.0 / raw : 0.0);
  }
}

}  // namespace trelvix::engine
