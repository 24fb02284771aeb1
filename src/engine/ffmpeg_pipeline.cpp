// The packet loop of a conversion: input choice, time stamps, decoding, video and audio out
// with their synchronisation, stream copy, subtitles, flushing, writing and the trailer.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <thread>

#include "engine/ffmpeg.h"
#include "engine/ffmpeg_messages.h"
#include "engine/transcode_streams.h"
#include "media/ff_load.h"
#include "media/ff_log.h"
#include "media/ff_utils.h"
#include "runtime/format.h"

namespace trelvix::engine {
namespace {

using media::llError;
using media::llVerbose;
using runtime::Format;

constexpr AVRational kTimeBaseQ{1, AV_TIME_BASE};
// A packet may come a little earlier than the previous one's end (rounded durations), and a
// little later (a frame missing); beyond these its time stamp is damaged.
constexpr int64_t kBackwardTolerance = 100000;
constexpr int64_t kForwardLeapLimit = 1000000;
// A decoded frame whose time stamp is further than this from where its stream stands carries a
// damaged time stamp: the stream's own time is taken instead (else one bad value would make the
// video sync repeat pictures for the whole jump).
constexpr int64_t kFrameJumpLimit = 1000000;

// The time of a decoded frame (microseconds): its own, unless missing or damaged.
int64_t FrameTime(int64_t ts, AVRational tb, int64_t expected) {
  if (ts == AV_NOPTS_VALUE) return expected != kNoValue ? expected : 0;
  const int64_t t = ff::av_rescale_q(ts, tb, kTimeBaseQ);
  if (expected != kNoValue && std::llabs(t - expected) > kFrameJumpLimit) return expected;
  return t;
}

int KindOf(AVMediaType t) {
  switch (t) {
    case AVMEDIA_TYPE_VIDEO:
      return mkVideo;
    case AVMEDIA_TYPE_AUDIO:
      return mkAudio;
    case AVMEDIA_TYPE_SUBTITLE:
      return mkSubtitle;
    default:
      return mkData;
  }
}

AVMediaType OutType(const TAVOutputStream& ost) {
  return ost.st->codecpar->codec_type;
}

}  // namespace

// --- Main loop ---

void TCustomFFmpeg::TranscodeLoop(TTranscodeState& r) {
  const int nb_files = Fnb_input_files;
  std::vector<char> no_packet(nb_files, 0);
  int no_packet_count = 0;
  int& join_file = r.segment;
  const int width = FJoinMode ? static_cast<int>(Foutput_files[0]->streams.size()) : 0;
  AVPacket* pkt = r.pkt.get();
  int file_index = 0;

  while (!FBroken) {
    PauseGate();
    if (FBroken) break;

    // 1. The input to read.
    file_index = -1;
    double ipts_min = 1e100, opts_min = 1e100;
    const size_t first = FJoinMode ? static_cast<size_t>(join_file * width) : 0;
    const size_t last = FJoinMode ? first + width : r.ost.size();
    for (size_t i = first; i < last; ++i) {
      TAVOutputStream& ost = *r.ost[i];
      TAVInputStream& ist = *r.ist[ost.source_index];
      if (ist.is_past_recording_time || no_packet[ist.file_index]) continue;
      const double opts = ost.last_pts_us / 1e6;
      const double ipts = ist.pts / 1e6;
      if (!r.input_files[ist.file_index].eof_reached) {
        if (Finput_sync ? ipts < ipts_min : opts < opts_min) {
          ipts_min = std::min(ipts, ipts_min);
          opts_min = std::min(opts, opts_min);
          file_index = ist.file_index;
        }
      }
      if (ost.frame_number >= Fmax_frames[KindOf(OutType(ost))]) {
        file_index = -1;
        break;
      }
    }
    if (FJoinMode && file_index >= 0) file_index = join_file;

    // 2. Nothing to read now.
    if (file_index < 0) {
      if (FJoinMode || no_packet_count == 0) break;
      std::fill(no_packet.begin(), no_packet.end(), 0);
      no_packet_count = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }

    // 3. File-size limit. Muxers hold back data before it reaches the file (matroska a whole
    // cluster, up to seconds of it), so the byte position alone lags behind; with one output
    // file the bytes handed to the muxer so far count as well.
    if (Flimit_filesize != 0) {
      AVIOContext* pb = Foutput_files[0]->ctx->pb;
      int64_t written = pb ? ff::avio_seek(pb, 0, SEEK_CUR) : 0;
      if (Fnb_output_files == 1 || FJoinMode)
        written = std::max(written, Fvideo_size + Faudio_size + Fextra_size);
      if (written > Flimit_filesize) break;
    }

    // 4. Read.
    AVFormatContext* ic = Finput_files[file_index].ctx.get();
    const int ret = ff::av_read_frame(ic, pkt);
    if (ret == AVERROR(EAGAIN)) {
      no_packet[file_index] = 1;
      ++no_packet_count;
      continue;
    }
    if (ret < 0) {
      r.input_files[file_index].eof_reached = true;
      if (Fopt_shortest && !FJoinMode) break;
      if (FJoinMode) {
        // Segment switch: flush this input's decoders, continue the streams with the next.
        for (int k = 0; k < r.input_files[file_index].nb_streams; ++k) {
          TAVInputStream& ist = *r.ist[r.input_files[file_index].ist_index + k];
          if (ist.decoding_needed && !ist.decoder_flushed) {
            OutputPacket(r, ist, nullptr);
            ff::avcodec_flush_buffers(ist.dec.get());
          }
        }
        if (file_index + 1 >= nb_files) break;
        SwitchSegment(r, file_index + 1);
        join_file = file_index + 1;
      }
      continue;
    }

    // 5. A packet.
    std::fill(no_packet.begin(), no_packet.end(), 0);
    no_packet_count = 0;
    if (Fdo_pkt_dump)
      ff::av_log(nullptr, AV_LOG_DEBUG, "packet stream %d size %d\n", pkt->stream_index, pkt->size);
    const TAVInputFile& inf = r.input_files[file_index];
    if (pkt->stream_index >= inf.nb_streams) {
      ff::av_packet_unref(pkt);
      continue;
    }
    TAVInputStream& ist = *r.ist[inf.ist_index + pkt->stream_index];
    if (ist.discard) {
      ff::av_packet_unref(pkt);
      continue;
    }

    // 6. Time stamps: offset, scale, discontinuity.
    const AVRational stb = ist.st->time_base;
    const int64_t offset = ff::av_rescale_q(Finput_files_ts_offset[file_index], kTimeBaseQ, stb);
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
    const double scale = pkt->stream_index < kMaxStreams
                             ? Finput_files_ts_scale[file_index][pkt->stream_index]
                             : 0.0;
    if (scale != 0) {
      if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llround(pkt->dts * scale);
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llround(pkt->pts * scale);
    }
    // Time stamps that jump. Far beyond the threshold (a discontinuity, by design in some
    // formats, or a wildly damaged value) the jump is absorbed into the file's offset, so that
    // the stream goes on where it was. A smaller leap forward, or a step back, is a damaged value
    // in any format: the packet loses its time stamps and the stream's own count goes on (a
    // value that stays off makes every later packet go on counting, which absorbs it too).
    const AVMediaType type = ist.st->codecpar->codec_type;
    if (pkt->dts != AV_NOPTS_VALUE && !Fcopy_ts && ist.next_dts != kNoValue &&
        (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO)) {
      const int64_t pkt_dts = ff::av_rescale_q(pkt->dts, stb, kTimeBaseQ);
      const int64_t delta = pkt_dts - ist.next_dts;
      if (std::llabs(delta) > static_cast<int64_t>(Fdts_delta_threshold * 1000000.0)) {
        Finput_files_ts_offset[file_index] -= delta;
        if (Fverbose >= 3)
          LogF(llVerbose, msg::kDiscontinuity, static_cast<int>(delta),
               static_cast<int>(Finput_files_ts_offset[file_index]));
        const int64_t d = ff::av_rescale_q(delta, kTimeBaseQ, stb);
        pkt->dts -= d;
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= d;
      } else if (delta > kForwardLeapLimit || delta < -kBackwardTolerance) {
        pkt->dts = pkt->pts = AV_NOPTS_VALUE;
      }
    }
    if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) {
      const int64_t dur = pkt->duration > 0 ? ff::av_rescale_q(pkt->duration, stb, kTimeBaseQ) : 0;
      if (pkt->dts != AV_NOPTS_VALUE)
        ist.next_dts = ff::av_rescale_q(pkt->dts, stb, kTimeBaseQ) + dur;
      else if (ist.next_dts != kNoValue)
        ist.next_dts += dur;
    }

    // 7. Recording limit.
    if (Frecording_time != INT64_MAX && pkt->pts != AV_NOPTS_VALUE &&
        ff::av_compare_ts(pkt->pts, stb, Frecording_time + Fstart_time, kTimeBaseQ) >= 0) {
      ist.is_past_recording_time = true;
      ff::av_packet_unref(pkt);
      continue;
    }

    // 8. Output.
    if (!OutputPacket(r, ist, pkt)) {
      const std::string m = Format(msg::kDecodeError, ist.file_index, ist.index,
                                   TypeName(ist.st->codecpar->codec_type).c_str());
      ff::av_packet_unref(pkt);
      if (Fexit_on_error) throw FFmpegException(m);
      if (Fverbose >= 0) LogF(llVerbose, "%s", m.c_str());
      continue;
    }
    ff::av_packet_unref(pkt);

    // 9. Report.
    if (ff::av_gettime() - r.last_report > ReportInterval) {
      r.last_report = ff::av_gettime();
      PrintReport(r, false, file_index);
    }
  }

  // After the loop: flush decoders and encoders, trailers, final report.
  for (auto& ip : r.ist)
    if (ip->decoding_needed && !ip->decoder_flushed) OutputPacket(r, *ip, nullptr);
  FlushEncoders(r);
  const size_t streams = FJoinMode ? Foutput_files[0]->streams.size() : r.ost.size();
  for (size_t i = 0; i < streams; ++i) FlushBitstreamFilters(*r.ost[i]);
  for (int j = 0; j < (FJoinMode ? 1 : Fnb_output_files); ++j) {
    const int err = ff::av_write_trailer(Foutput_files[j]->ctx.get());
    if (err < 0) throw FFmpegException(media::LibErrorText("av_write_trailer()", err));
    Foutput_files[j]->unfinished = false;
  }
  PrintReport(r, true, -1);
  FFinished = !FBroken;
}

// --- One packet of an input stream (null: the end-of-stream flush) ---

bool TCustomFFmpeg::OutputPacket(TTranscodeState& r, TAVInputStream& ist, AVPacket* pkt) {
  if (ist.next_pts == kNoValue) ist.next_pts = ist.pts;
  if (pkt && pkt->dts != AV_NOPTS_VALUE)
    ist.next_pts = ist.pts = ff::av_rescale_q(pkt->dts, ist.st->time_base, kTimeBaseQ);
  const AVMediaType type = ist.st->codecpar->codec_type;

  if (!ist.decoding_needed) {
    if (!pkt) return true;
    // Stream copy: the time advances by the packet.
    ist.pts = ist.next_pts;
    if (type == AVMEDIA_TYPE_AUDIO && ist.st->codecpar->sample_rate > 0 &&
        ist.st->codecpar->frame_size > 0)
      ist.next_pts +=
          int64_t{ist.st->codecpar->frame_size} * 1000000 / ist.st->codecpar->sample_rate;
    else if (pkt->duration > 0)
      ist.next_pts += ff::av_rescale_q(pkt->duration, ist.st->time_base, kTimeBaseQ);
    // Before the start position nothing is copied, as nothing is decoded for output.
    if (Fstart_time != 0 && ist.pts < Fstart_time) return true;
    for (auto& op : r.ost)
      if (r.ist[op->source_index].get() == &ist && op->setup->stream_copy)
        CopyPacket(r, *op, ist, pkt);
    return true;
  }

  AVCodecContext* dec = ist.dec.get();
  if (type == AVMEDIA_TYPE_SUBTITLE) {
    if (!pkt) {
      ist.decoder_flushed = true;
      return true;
    }
    AVSubtitle sub{};
    int got = 0;
    if (ff::avcodec_decode_subtitle2(dec, &sub, &got, pkt) < 0) return false;
    if (!got) return true;
    for (auto& op : r.ost)
      if (r.ist[op->source_index].get() == &ist && op->encoding_needed)
        DoSubtitleOut(r, *op, ist, &sub, pkt->pts);
    ff::avsubtitle_free(&sub);
    return true;
  }
  if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) return false;

  int ret = ff::avcodec_send_packet(dec, pkt);
  if (ret < 0 && ret != AVERROR_EOF && ret != AVERROR(EAGAIN)) return false;
  AVFrame* frame = ist.frame.get();
  for (;;) {
    ret = ff::avcodec_receive_frame(dec, frame);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) return false;
    if (type == AVMEDIA_TYPE_VIDEO)
      HandleDecodedVideo(r, ist, frame);
    else
      HandleDecodedAudio(r, ist, frame);
    ff::av_frame_unref(frame);
    if (FBroken && pkt) break;
  }
  if (!pkt) {
    ist.decoder_flushed = true;
    // Filters that hold pictures back (frame-rate changes, reversal...) give them up now.
    if (type == AVMEDIA_TYPE_VIDEO)
      for (auto& op : r.ost)
        if (op->filter_graph && r.ist[op->source_index].get() == &ist)
          FilterVideo(r, *op, ist, nullptr);
  }
  return true;
}

void TCustomFFmpeg::HandleDecodedVideo(TTranscodeState& r, TAVInputStream& ist, AVFrame* frame) {
  const AVRational stb = ist.st->time_base;
  ist.pts = FrameTime(frame->best_effort_timestamp, stb, ist.next_pts);
  int64_t dur =
      frame->pkt_duration > 0 ? ff::av_rescale_q(frame->pkt_duration, stb, kTimeBaseQ) : 0;
  if (dur <= 0) {
    AVRational rate = ist.dec->framerate.num > 0 ? ist.dec->framerate : ist.st->avg_frame_rate;
    if (rate.num > 0 && rate.den > 0) dur = int64_t{1000000} * rate.den / rate.num;
  }
  if (dur > 0) dur = dur * (2 + frame->repeat_pict) / 2;
  ist.next_pts = ist.pts + dur;
  ist.quality = static_cast<float>(frame->quality);

  AVFrame* picture = RunInputHook(r, ist, frame);

  if (Frate_emu) {
    const int64_t ahead = ist.pts - (ff::av_gettime() - ist.start);
    if (ahead > 1000) std::this_thread::sleep_for(std::chrono::microseconds(ahead));
  }
  if (Fstart_time != 0 && ist.pts < Fstart_time) return;
  picture->pts = ff::av_rescale_q(ist.pts, kTimeBaseQ, stb);  // the checked time
  for (auto& op : r.ost) {
    TAVOutputStream& ost = *op;
    if (r.ist[ost.source_index].get() != &ist || !ost.encoding_needed || !ost.enc) continue;
    // The scaler takes a picture with a band as it is; everything else needs it whole.
    if (ost.filter_graph)
      FilterVideo(r, ost, ist, picture = WholePicture(r, picture));
    else
      DoVideoOut(r, ost, ist, ost.video_resample ? picture : picture = WholePicture(r, picture));
  }
}

void TCustomFFmpeg::HandleDecodedAudio(TTranscodeState& r, TAVInputStream& ist, AVFrame* frame) {
  AVCodecContext* dec = ist.dec.get();
  const AVRational stb = ist.st->time_base;
  if (frame->best_effort_timestamp != AV_NOPTS_VALUE || ist.next_pts != kNoValue)
    ist.pts = FrameTime(frame->best_effort_timestamp, stb, ist.next_pts);
  const int channels = frame->ch_layout.nb_channels;
  const int rate = frame->sample_rate;
  const int nb = frame->nb_samples;
  if (channels <= 0 || rate <= 0 || nb <= 0) return;

  // Interleaved signed 16-bit, the form the hooks and the rules below take.
  if (!ist.to_s16 || ist.to_s16_rate != rate || ist.to_s16_channels != channels ||
      ist.to_s16_fmt != frame->format) {
    SwrContext* swr = nullptr;
    if (ff::swr_alloc_set_opts2(&swr, &frame->ch_layout, AV_SAMPLE_FMT_S16, rate, &frame->ch_layout,
                                static_cast<AVSampleFormat>(frame->format), rate, 0, nullptr) < 0 ||
        ff::swr_init(swr) < 0) {
      ff::swr_free(&swr);
      throw FFmpegException(
          Format(msg::kCannotConvert,
                 ff::av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format)), "s16"));
    }
    ist.to_s16.reset(swr);
    ist.to_s16_rate = rate;
    ist.to_s16_channels = channels;
    ist.to_s16_fmt = frame->format;
  }
  if (r.s16.size() < static_cast<size_t>(nb) * channels)
    r.s16.resize(static_cast<size_t>(nb) * channels);
  uint8_t* out = reinterpret_cast<uint8_t*>(r.s16.data());
  const int got = ff::swr_convert(ist.to_s16.get(), &out, nb,
                                  const_cast<const uint8_t**>(frame->extended_data), nb);
  if (got <= 0) return;
  ist.next_pts = ist.pts + int64_t{got} * 1000000 / rate;
  (void)dec;

  const int bytes = got * channels * 2;
  if (FOnAudioHook) FOnAudioHook(this, ist.pts, out, bytes, rate, channels, AV_SAMPLE_FMT_S16);
  if (Faudio_volume != 256) {
    const int64_t vol = Faudio_volume;  // 64-bit: a sample times any int volume fits
    int16_t* s = r.s16.data();
    for (int i = 0, n = got * channels; i < n; ++i) {
      const int64_t v = (s[i] * vol + 128) >> 8;  // floor((s * vol + 128) / 256)
      s[i] = static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
    }
  }
  if (Frate_emu) {
    const int64_t ahead = ist.pts - (ff::av_gettime() - ist.start);
    if (ahead > 1000) std::this_thread::sleep_for(std::chrono::microseconds(ahead));
  }
  if (Fstart_time != 0 && ist.pts < Fstart_time) return;
  for (auto& op : r.ost)
    if (r.ist[op->source_index].get() == &ist && op->encoding_needed && op->enc)
      DoAudioOut(r, *op, ist, r.s16.data(), got);
}

// --- Video out ---

void TCustomFFmpeg::DoVideoOut(TTranscodeState& r, TAVOutputStream& ost, TAVInputStream& ist,
                               AVFrame* in) {
  AVCodecContext* enc = ost.enc;
  const double sync_ipts = static_cast<double>(r.ist[ost.sync_index]->pts - Fstart_time) /
                           AV_TIME_BASE / av_q2d(enc->time_base);
  int nb_frames = 1;
  if (Fvideo_sync_method != 0) {
    const double vdelta = sync_ipts - static_cast<double>(ost.sync_opts);
    const AVOutputFormat* ofmt = Foutput_files[ost.file_index]->ctx->oformat;
    if (vdelta < -1.1) {
      nb_frames = 0;
    } else if (Fvideo_sync_method == 2 ||
               (Fvideo_sync_method < 0 && (ofmt->flags & AVFMT_VARIABLE_FPS))) {
      if (vdelta <= -0.6)
        nb_frames = 0;
      else if (vdelta > 0.6)
        ost.sync_opts = std::llround(sync_ipts);
    } else if (vdelta > 1.1) {
      nb_frames = static_cast<int>(std::lround(vdelta));
    }
    if (nb_frames == 0) {
      ++Fnb_frames_drop;
      FShowDupOrDrop = true;
      if (Fverbose > 2) LogF(llVerbose, "%s", msg::kDrop);
    } else if (nb_frames > 1) {
      Fnb_frames_dup += nb_frames - 1;
      FShowDupOrDrop = true;
      if (Fverbose > 2) LogF(llVerbose, msg::kDup, nb_frames - 1);
    }
  } else {
    ost.sync_opts = std::llround(sync_ipts);
  }
  nb_frames = std::min(nb_frames, Fmax_frames[mkVideo] - ost.frame_number);
  if (nb_frames <= 0) return;

  AVFrame* picture = in;
  const int cw = in->width - ost.leftBand - ost.rightBand;
  const int ch = in->height - ost.topBand - ost.bottomBand;
  if (!FEnableFilter && (cw != ost.resample_width || ch != ost.resample_height ||
                         in->format != ost.resample_pix_fmt)) {
    LogF(media::llQuiet, msg::kFrameSizeChanged, ist.file_index, ist.index, in->width, in->height,
         ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(in->format)));
    if (!ost.video_resample) {
      // A picture the encoder cannot take as it is now goes through the scaler from here on.
      ost.video_resample = true;
      ost.pict_tmp = media::MakeFrame();
      if (!ost.pict_tmp) throw FFmpegException(msg::kTempPicture);
      ost.pict_tmp->format = enc->pix_fmt;
      ost.pict_tmp->width = enc->width;
      ost.pict_tmp->height = enc->height;
      if (ff::av_frame_get_buffer(ost.pict_tmp.get(), 0) < 0)
        throw FFmpegException(msg::kTempPicture);
      ost.original_width = ost.resample_width + ost.leftBand + ost.rightBand;
      ost.original_height = ost.resample_height + ost.topBand + ost.bottomBand;
    }
    if (ost.original_height > 0 && ost.original_width > 0) {
      const auto even = [](int v) { return v & ~1; };
      ost.topBand = even(ost.original_topBand * in->height / ost.original_height);
      ost.bottomBand = even(ost.original_bottomBand * in->height / ost.original_height);
      ost.leftBand = even(ost.original_leftBand * in->width / ost.original_width);
      ost.rightBand = even(ost.original_rightBand * in->width / ost.original_width);
    }
    ost.resample_width = in->width - ost.leftBand - ost.rightBand;
    ost.resample_height = in->height - ost.topBand - ost.bottomBand;
    ost.resample_pix_fmt = in->format;
  }
  // Output hooks and previews need the scaled picture here; otherwise, when the encoder runs
  // apart, its thread scales the picture too, beside this one.
  const bool output_hooks = FOnOutputVideoHook || PostHooks() != 0;
  TScaleSpec spec;
  bool scale_apart = false;
  const TPictureBand band = r.in_band.For(in) ? r.in_band : TPictureBand{};
  if (ost.video_resample) {
    if (!ost.pict_tmp) {
      ost.pict_tmp = media::MakeFrame();
      ost.pict_tmp->format = enc->pix_fmt;
      ost.pict_tmp->width = enc->width;
      ost.pict_tmp->height = enc->height;
      if (ff::av_frame_get_buffer(ost.pict_tmp.get(), 0) < 0)
        throw FFmpegException(msg::kTempPicture);
    }
    spec = {ost.resample_width, ost.resample_height, ost.resample_pix_fmt,
            ost.leftBand,       ost.topBand,         enc->width,
            enc->height,        enc->pix_fmt,        Fsws_flags};
    if (!ost.scaler.Prepare(spec)) throw FFmpegException(msg::kResampleContext);
    scale_apart = !output_hooks && EncodesApart(ost);
    if (!scale_apart) {
      if (ff::av_frame_make_writable(ost.pict_tmp.get()) < 0)
        throw FFmpegException(msg::kTempPicture);
      if (!ost.scaler.Scale(spec, in, ost.pict_tmp.get(), band.band, band.top))
        throw FFmpegException(msg::kResampleContext);
    }
    // Scaled apart, the picture carries only the properties; its pixels come from `in`.
    picture = ost.pict_tmp.get();
  }

  AVFrame* ef = ost.enc_frame.get();
  for (int i = 0; i < nb_frames; ++i) {
    if (FBroken) break;
    AVFrame* frame = picture;
    if (picture != ost.pict_tmp.get()) {
      // The decoder's picture is handed on by reference, not copied.
      ff::av_frame_unref(ef);
      if (ff::av_frame_ref(ef, picture) < 0) throw FFmpegException(msg::kVideoEncodingFailed);
      frame = ef;
    }
    frame->interlaced_frame = in->interlaced_frame;
    if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
      frame->top_field_first = Ftop_field_first == -1 ? in->top_field_first : Ftop_field_first;
    frame->quality =
        static_cast<int>(std::lround(Fsame_quality ? ist.quality : ost.setup->quality));
    if (!Fme_threshold) frame->pict_type = AV_PICTURE_TYPE_NONE;
    frame->pts = ost.sync_opts;
    frame->pkt_duration = 1;
    if (output_hooks) RunOutputHooks(r, ost, frame);
    if (scale_apart)
      EncodeVideo(r, ost, frame, in, &spec, &band);
    else
      EncodeVideo(r, ost, frame);
    ++ost.sync_opts;
    ++ost.frame_number;
  }
  ff::av_frame_unref(ef);
  ost.last_pts_us = ff::av_rescale_q(ost.sync_opts, enc->time_base, kTimeBaseQ);
}

// --- Audio out ---

void TCustomFFmpeg::DoAudioOut(TTranscodeState& r, TAVOutputStream& ost, TAVInputStream& ist,
                               const int16_t* samples, int nb_samples) {
  AVCodecContext* enc = ost.enc;
  AVCodecContext* dec = ist.dec.get();
  const int in_ch = ist.to_s16_channels;
  const int in_rate = ist.to_s16_rate;
  const int out_ch = enc->ch_layout.nb_channels;
  const int out_rate = enc->sample_rate;
  if (in_ch != out_ch) ost.audio_resample = true;

  if (!ost.resample || ost.resample_in_rate != in_rate || ost.resample_in_channels != in_ch) {
    if (dec->sample_fmt != AV_SAMPLE_FMT_S16 && Fverbose > 0 && ost.audio_resample && !ost.resample)
      LogF(llVerbose, "%s", msg::kS16Warning);
    SwrContext* swr = nullptr;
    AVChannelLayout in_layout{};
    ff::av_channel_layout_default(&in_layout, in_ch);
    const bool ok =
        ff::swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, out_rate, &in_layout,
                                AV_SAMPLE_FMT_S16, in_rate, 0, nullptr) >= 0 &&
        ff::swr_init(swr) >= 0;
    ff::av_channel_layout_uninit(&in_layout);
    if (!ok) {
      ff::swr_free(&swr);
      if (ost.audio_resample)
        throw FFmpegException(Format(msg::kCannotResample, in_ch, in_rate, out_ch, out_rate));
      throw FFmpegException(
          Format(msg::kCannotConvert, "s16", ff::av_get_sample_fmt_name(enc->sample_fmt)));
    }
    ost.resample.reset(swr);
    ost.resample_in_rate = in_rate;
    ost.resample_in_channels = in_ch;
  }
  SwrContext* swr = ost.resample.get();

  // Synchronisation with the input time stamps.
  const int64_t pending = ff::av_audio_fifo_size(ost.fifo.get()) + ff::swr_get_delay(swr, out_rate);
  const int64_t sync_pts = r.ist[ost.sync_index]->pts;
  const int16_t* in = samples;
  int in_n = nb_samples;
  if (Faudio_sync_method != 0) {
    const double delta = static_cast<double>(sync_pts - Fstart_time) / 1000000.0 * out_rate -
                         static_cast<double>(ost.sync_opts) - static_cast<double>(pending);
    const double idelta = delta * in_rate / out_rate;
    const int sample_delta = static_cast<int>(idelta);
    if (std::fabs(delta) > 50) {
      if (ist.is_start || std::fabs(delta) > Faudio_drift_threshold * out_rate) {
        if (sample_delta < 0) {
          const int drop = std::min(-sample_delta, in_n);
          in += static_cast<ptrdiff_t>(drop) * in_ch;
          in_n -= drop;
          if (Fverbose > 2) LogF(llVerbose, msg::kDiscarding, static_cast<int>(-delta));
          if (in_n <= 0) return;
          ist.is_start = false;
        } else {
          const size_t need = static_cast<size_t>(sample_delta + in_n) * in_ch;
          if (r.silence.size() < need) r.silence.resize(need);
          std::fill_n(r.silence.begin(), static_cast<size_t>(sample_delta) * in_ch, int16_t{0});
          std::copy_n(in, static_cast<size_t>(in_n) * in_ch,
                      r.silence.begin() + static_cast<ptrdiff_t>(sample_delta) * in_ch);
          in = r.silence.data();
          in_n += sample_delta;
          ist.is_start = false;
          if (Fverbose > 2) LogF(llVerbose, msg::kAddingSilence, static_cast<int>(delta));
        }
      } else if (Faudio_sync_method > 1) {
        const int comp =
            std::clamp(static_cast<int>(delta), -Faudio_sync_method, Faudio_sync_method);
        if (Fverbose > 2) LogF(llVerbose, msg::kCompensating, delta, comp, out_rate);
        ff::swr_set_compensation(swr, comp, out_rate);
      }
    }
  } else {
    ost.sync_opts =
        std::llround(static_cast<double>(sync_pts - Fstart_time) / 1000000.0 * out_rate) - pending;
  }

  // Resample or convert into the encoder's format, then frame through the FIFO.
  const int out_max = ff::swr_get_out_samples(swr, in_n) + 16;
  if (!ost.conv_buf || ost.conv_samples < out_max) {
    if (ost.conv_buf) {
      ff::av_freep(&ost.conv_buf[0]);
      ff::av_freep(&ost.conv_buf);
    }
    const int alloc = std::max(out_max, 8192);
    // One plane pointer per channel for planar formats, however many channels there are.
    ost.conv_buf = static_cast<uint8_t**>(
        ff::av_mallocz(static_cast<size_t>(std::max(out_ch, 1)) * sizeof(uint8_t*)));
    if (!ost.conv_buf ||
        ff::av_samples_alloc(ost.conv_buf, nullptr, out_ch, alloc, enc->sample_fmt, 0) < 0)
      throw FFmpegException(msg::kBufferSizesTooLarge);
    ost.conv_samples = alloc;
  }
  const uint8_t* src = reinterpret_cast<const uint8_t*>(in);
  const int got = ff::swr_convert(swr, ost.conv_buf, out_max, &src, in_n);
  if (got < 0) {
    if (Fexit_on_error) throw FFmpegException("av_audio_convert() failed");
    LogF(llError, "%s", "av_audio_convert() failed");
    return;
  }
  AVAudioFifo* fifo = ost.fifo.get();
  const int frame_size = enc->frame_size;
  if (frame_size > 1) {
    if (got > 0 && ff::av_audio_fifo_write(fifo, reinterpret_cast<void**>(ost.conv_buf), got) < got)
      throw FFmpegException(msg::kFifoRealloc);
    AVFrame* f = ost.audio_frame.get();
    while (ff::av_audio_fifo_size(fifo) >= frame_size) {
      if (f->nb_samples != frame_size || !f->buf[0]) {
        ff::av_frame_unref(f);
        f->nb_samples = frame_size;
        f->format = enc->sample_fmt;
        ff::av_channel_layout_copy(&f->ch_layout, &enc->ch_layout);
        f->sample_rate = out_rate;
        if (ff::av_frame_get_buffer(f, 0) < 0) throw FFmpegException(msg::kAudioEncodingFailed);
      } else if (ff::av_frame_make_writable(f) < 0) {
        throw FFmpegException(msg::kAudioEncodingFailed);
      }
      ff::av_audio_fifo_read(fifo, reinterpret_cast<void**>(f->extended_data), frame_size);
      f->pts = ost.sync_opts;
      EncodeAndWrite(r, ost, f);
      ost.sync_opts += frame_size;
    }
  } else if (got > 0) {
    // PCM-like encoders take every block as it is.
    AVFrame* f = ost.audio_frame.get();
    ff::av_frame_unref(f);
    f->nb_samples = got;
    f->format = enc->sample_fmt;
    ff::av_channel_layout_copy(&f->ch_layout, &enc->ch_layout);
    f->sample_rate = out_rate;
    if (ff::av_frame_get_buffer(f, 0) < 0) throw FFmpegException(msg::kAudioEncodingFailed);
    ff::av_samples_copy(f->extended_data, ost.conv_buf, 0, 0, got, out_ch, enc->sample_fmt);
    f->pts = ost.sync_opts;
    EncodeAndWrite(r, ost, f);
    ost.sync_opts += got;
  }
  ost.last_pts_us = ff::av_rescale(ost.sync_opts, 1000000, out_rate);
}

// --- Subtitles ---

void TCustomFFmpeg::DoSubtitleOut(TTranscodeState& r, TAVOutputStream& ost, TAVInputStream& ist,
                                  AVSubtitle* sub, int64_t pts) {
  (void)r;
  if (pts == AV_NOPTS_VALUE) {
    if (Fexit_on_error) throw FFmpegException(msg::kSubtitleNoPts);
    LogF(llError, "%s", msg::kSubtitleNoPts);
    return;
  }
  // Re-time the cue onto the output's time line, which begins at the start position: a cue
  // that is over by then is dropped, one that is still showing keeps the rest of its time.
  const int64_t base = ff::av_rescale_q(pts, ist.st->time_base, kTimeBaseQ);
  const int64_t shown_from = base + int64_t{sub->start_display_time} * 1000;
  const bool timed = sub->end_display_time > sub->start_display_time;
  const int64_t shown_to = base + int64_t{sub->end_display_time} * 1000;
  if (timed ? shown_to <= Fstart_time : shown_from < Fstart_time) return;
  const int64_t from = std::max(shown_from, Fstart_time);
  sub->pts = from - Fstart_time;
  sub->end_display_time = timed ? static_cast<uint32_t>((shown_to - from) / 1000) : 0;
  sub->start_display_time = 0;

  // Encoded subtitles: one 1 MiB buffer per conversion thread, kept.
  thread_local std::vector<uint8_t> out(1 << 20);
  AVCodecContext* enc = ost.enc;
  const int nb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE ? 2 : 1;
  for (int i = 0; i < nb; ++i) {
    const int size =
        ff::avcodec_encode_subtitle(enc, out.data(), static_cast<int>(out.size()), sub);
    if (size < 0) throw FFmpegException(msg::kSubtitleEncodingFailed);
    AVPacket* p = ost.pkt.get();
    ff::av_packet_unref(p);
    if (ff::av_new_packet(p, size) < 0) throw FFmpegException(msg::kSubtitleEncodingFailed);
    std::memcpy(p->data, out.data(), static_cast<size_t>(size));
    p->pts = ff::av_rescale_q(sub->pts, kTimeBaseQ, ost.st->time_base);
    if (nb == 2) p->pts += int64_t{90} * (i == 0 ? sub->start_display_time : sub->end_display_time);
    p->dts = p->pts;
    p->duration = ff::av_rescale_q(sub->end_display_time, AVRational{1, 1000}, ost.st->time_base);
    WritePacket(ost, p);
  }
  ost.last_pts_us = sub->pts;
}

// --- Stream copy ---

void TCustomFFmpeg::CopyPacket(TTranscodeState& r, TAVOutputStream& ost, TAVInputStream& ist,
                               const AVPacket* pkt) {
  (void)r;
  if (ost.frame_number == 0 && !(pkt->flags & AV_PKT_FLAG_KEY) && !Fcopy_initial_nonkeyframes)
    return;
  const AVMediaType type = ist.st->codecpar->codec_type;
  if (type == AVMEDIA_TYPE_AUDIO) Faudio_size += pkt->size;
  if (type == AVMEDIA_TYPE_VIDEO) {
    Fvideo_size += pkt->size;
    ++ost.sync_opts;
  }
  AVPacket* opkt = ost.pkt.get();
  ff::av_packet_unref(opkt);
  if (ff::av_packet_ref(opkt, pkt) < 0) throw FFmpegException(msg::kMallocFail);
  const AVRational otb = ost.st->time_base;
  const int64_t start = ff::av_rescale_q(Fstart_time, kTimeBaseQ, otb);
  opkt->pts = pkt->pts != AV_NOPTS_VALUE
                  ? ff::av_rescale_q(pkt->pts, ist.st->time_base, otb) - start
                  : AV_NOPTS_VALUE;
  opkt->dts = (pkt->dts != AV_NOPTS_VALUE ? ff::av_rescale_q(pkt->dts, ist.st->time_base, otb)
                                          : ff::av_rescale_q(ist.pts, kTimeBaseQ, otb)) -
              start;
  opkt->duration = ff::av_rescale_q(pkt->duration, ist.st->time_base, otb);
  const int64_t end = opkt->dts + std::max<int64_t>(opkt->duration, 0);
  WritePacket(ost, opkt);
  ++ost.frame_number;
  ost.last_pts_us = ff::av_rescale_q(end, otb, kTimeBaseQ);
}

// --- Encoding and writing ---

void TCustomFFmpeg::EncodeAndWrite(TTranscodeState& r, TAVOutputStream& ost, AVFrame* frame) {
  (void)r;
  AVCodecContext* enc = ost.enc;
  const bool video = enc->codec_type == AVMEDIA_TYPE_VIDEO;
  const char* failure = video ? msg::kVideoEncodingFailed : msg::kAudioEncodingFailed;
  int ret = ff::avcodec_send_frame(enc, frame);
  if (ret < 0 && ret != AVERROR_EOF) throw FFmpegException(failure);
  AVPacket* pkt = ost.pkt.get();
  for (;;) {
    ret = ff::avcodec_receive_packet(enc, pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) throw FFmpegException(failure);
    if (video) {
      WriteVideoPacket(ost, pkt);
      continue;
    }
    if (pkt->duration <= 0) pkt->duration = frame ? frame->nb_samples : enc->frame_size;
    Faudio_size += pkt->size;
    ff::av_packet_rescale_ts(pkt, enc->time_base, ost.st->time_base);
    WritePacket(ost, pkt);
  }
}

void TCustomFFmpeg::WriteVideoPacket(TAVOutputStream& ost, AVPacket* pkt) {
  const AVCodecContext* enc = ost.enc;
  size_t size = 0;
  const uint8_t* q = ff::av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &size);
  if (q && size >= 6) {
    ost.last_quality =
        static_cast<int>(q[0] | (q[1] << 8) | (q[2] << 16) | (static_cast<uint32_t>(q[3]) << 24));
    ost.last_pict_type = q[4];
    const int errs = std::min<int>(q[5], 4);
    for (int i = 0; i < errs && size >= static_cast<size_t>(8 + 8 * (i + 1)); ++i) {
      int64_t e = 0;
      std::memcpy(&e, q + 8 + 8 * i, 8);
      ost.last_error[i] = e;
    }
    // -1: the encoder gives no error figures, so there is no PSNR to show.
    if (errs == 0) std::fill(std::begin(ost.last_error), std::end(ost.last_error), -1);
  }
  if (pkt->duration <= 0) pkt->duration = 1;  // one frame, or the edit list drops the last
  Fvideo_size += pkt->size;
  ost.last_frame_size = pkt->size;
  if (ost.logfile && enc->stats_out) std::fputs(enc->stats_out, ost.logfile);
  if (pkt->size > 0 && !Fvstats_filename.empty()) WriteVideoStats(ost, pkt->size);
  ff::av_packet_rescale_ts(pkt, enc->time_base, ost.st->time_base);
  WritePacket(ost, pkt);
}

bool TCustomFFmpeg::EncodesApart(TAVOutputStream& ost) {
  // Encoders with threads of their own that hold pictures back (libx264) run apart: they are the
  // ones whose threads wait for the next picture, and the progress report already shows their
  // packets some pictures late. Of the others the packet of a picture comes with it, and the
  // report shows its quality figures at once. Two-pass statistics and the statistics file read
  // the encoder's state right after each packet, join mode shares one encoder between streams:
  // those encode on this thread too.
  constexpr int kApart = AV_CODEC_CAP_DELAY | AV_CODEC_CAP_OTHER_THREADS;
  if (!ost.encode_worker && FOverlapEncoding && !FJoinMode && !ost.logfile &&
      Fvstats_filename.empty() && (ost.enc->codec->capabilities & kApart) == kApart)
    ost.encode_worker = std::make_unique<TVideoEncodeWorker>(ost.enc);
  return ost.encode_worker != nullptr;
}

void TCustomFFmpeg::EncodeVideo(TTranscodeState& r, TAVOutputStream& ost, AVFrame* frame,
                                const AVFrame* source, const TScaleSpec* spec,
                                const TPictureBand* band) {
  // The worker is made at the first picture and ended by the end of the stream.
  if (frame ? !EncodesApart(ost) : !ost.encode_worker) {
    EncodeAndWrite(r, ost, frame);
    return;
  }
  const bool ok =
      frame ? ost.encode_worker->Submit(frame, source, spec, band) : ost.encode_worker->Finish();
  AVPacket* pkt = ost.pkt.get();
  while (ost.encode_worker->TakePacket(pkt)) WriteVideoPacket(ost, pkt);
  if (!ok) throw FFmpegException(msg::kVideoEncodingFailed);
  if (!frame) ost.encode_worker.reset();
}

void TCustomFFmpeg::WriteVideoStats(TAVOutputStream& ost, int frame_size) {
  if (!Fvstats_file) {
    Fvstats_file.reset(std::fopen(Fvstats_filename.c_str(), "w"));
    if (!Fvstats_file) throw FFmpegException(msg::kVstatsOpenFail + Fvstats_filename);
  }
  const AVCodecContext* enc = ost.enc;
  FILE* f = Fvstats_file.get();
  const int quality = ost.last_quality < 0 ? 0 : ost.last_quality;
  std::fprintf(f, "frame= %5d q= %2.1f ", ++ost.coded_frames,
               static_cast<double>(quality) / kLambdaPerQuantiser);
  if ((enc->flags & AV_CODEC_FLAG_PSNR) && ost.last_error[0] >= 0) {  // -1: no figure given
    const double d = static_cast<double>(ost.last_error[0]) /
                     (static_cast<double>(enc->width) * enc->height * 255.0 * 255.0);
    std::fprintf(f, "PSNR= %6.2f ", d > 0 ? -10.0 * std::log10(d) : 99.99);
  }
  std::fprintf(f, "f_size= %6d ", frame_size);
  const double t = std::max(static_cast<double>(ost.sync_opts) * av_q2d(enc->time_base), 0.01);
  const double bitrate = frame_size * 8 / av_q2d(enc->time_base) / 1000.0;
  const double avg = static_cast<double>(Fvideo_size) * 8 / t / 1000.0;
  std::fprintf(f, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
               static_cast<double>(Fvideo_size) / 1024, t, bitrate, avg);
  std::fprintf(f, "type= %c\n",
               ff::av_get_picture_type_char(static_cast<AVPictureType>(ost.last_pict_type)));
}

void TCustomFFmpeg::WritePacket(TAVOutputStream& ost, AVPacket* pkt) {
  pkt->stream_index = ost.st->index;
  WriteFiltered(ost, pkt, 0);
}

namespace {

std::string BsfFailure(const AVBSFContext* bsf, const TAVOutputStream& ost, int err) {
  return Format(msg::kBsfFailed, bsf->filter->name, ost.st->index,
                ost.setup->stream_copy ? "copy" : ost.enc->codec->name) +
         media::ErrorCodeText(err);
}

}  // namespace

void TCustomFFmpeg::InitBitstreamFilters(TAVOutputStream& ost) {
  std::vector<media::BsfPtr>& chain = ost.setup->bitstream_filters;
  const AVCodecParameters* par = ost.st->codecpar;
  AVRational tb = ost.st->time_base;
  for (media::BsfPtr& b : chain) {
    int err = ff::avcodec_parameters_copy(b->par_in, par);
    b->time_base_in = tb;
    if (err >= 0) err = ff::av_bsf_init(b.get());
    if (err < 0) throw FFmpegException(BsfFailure(b.get(), ost, err));
    par = b->par_out;
    tb = b->time_base_out;
  }
  if (!chain.empty() && ff::avcodec_parameters_copy(ost.st->codecpar, par) < 0)
    throw FFmpegException(msg::kMallocFail);
}

void TCustomFFmpeg::FlushBitstreamFilters(TAVOutputStream& ost) {
  if (!ost.setup->bitstream_filters.empty()) WriteFiltered(ost, nullptr, 0);
}

void TCustomFFmpeg::WriteFiltered(TAVOutputStream& ost, AVPacket* pkt, size_t first_filter) {
  std::vector<media::BsfPtr>& chain = ost.setup->bitstream_filters;
  if (first_filter < chain.size()) {
    AVBSFContext* bsf = chain[first_filter].get();
    media::PacketPtr copy(pkt ? ff::av_packet_clone(pkt) : nullptr);
    int ret = !pkt || copy ? ff::av_bsf_send_packet(bsf, copy.get()) : AVERROR(ENOMEM);
    if (ret < 0) {
      const std::string m = BsfFailure(bsf, ost, ret);
      if (Fexit_on_error) throw FFmpegException(m);
      LogF(llError, "%s", m.c_str());
      WriteFiltered(ost, pkt, first_filter + 1);  // the packet continues unfiltered
      return;
    }
    if (pkt) ff::av_packet_unref(pkt);
    media::PacketPtr out = media::MakePacket();
    while (ff::av_bsf_receive_packet(bsf, out.get()) == 0) {
      out->stream_index = ost.st->index;
      WriteFiltered(ost, out.get(), first_filter + 1);
      ff::av_packet_unref(out.get());
    }
    // At the end, what this filter held back has gone on; the next ones are drained in turn.
    if (!pkt) WriteFiltered(ost, nullptr, first_filter + 1);
    return;
  }
  if (!pkt) return;
  AVFormatContext* oc = Foutput_files[ost.file_index]->ctx.get();
  // Damaged inputs can give time stamps that go back: the muxer takes only increasing ones (or
  // equal ones where the format allows), so such a packet is moved just after the last.
  if (pkt->dts != AV_NOPTS_VALUE && ost.last_mux_dts != kNoValue &&
      !(oc->oformat->flags & AVFMT_NOTIMESTAMPS)) {
    const int64_t least = ost.last_mux_dts + ((oc->oformat->flags & AVFMT_TS_NONSTRICT) ? 0 : 1);
    if (pkt->dts < least) {
      LogF(media::llWarning, msg::kTimestampRepaired, ost.file_index, ost.index,
           static_cast<long long>(pkt->dts), static_cast<long long>(ost.last_mux_dts),
           static_cast<long long>(least));
      if (pkt->pts != AV_NOPTS_VALUE && pkt->pts < least) pkt->pts = least;
      pkt->dts = least;
    }
  }
  if (pkt->pts != AV_NOPTS_VALUE && pkt->dts != AV_NOPTS_VALUE && pkt->pts < pkt->dts)
    pkt->pts = pkt->dts;
  if (pkt->dts != AV_NOPTS_VALUE) ost.last_mux_dts = pkt->dts;
  const int ret = ff::av_interleaved_write_frame(oc, pkt);
  if (ret < 0) throw FFmpegException(media::LibErrorText(msg::kWriteFrame, ret));
}

void TCustomFFmpeg::SwitchSegment(TTranscodeState& r, int next) {
  const size_t width = Foutput_files[0]->streams.size();
  const size_t first = static_cast<size_t>(r.segment) * width;
  double end = 0;
  for (size_t i = first; i < first + width; ++i) {
    TAVOutputStream& o = *r.ost[i];
    TAVOutputStream& n = *r.ost[i + (next - r.segment) * width];
    // Audio the encoder has not taken yet goes on with the next input, in front of its own.
    if (o.encoding_needed && o.enc && o.enc->codec_type == AVMEDIA_TYPE_AUDIO) {
      DrainResampler(r, o);
      std::swap(n.fifo, o.fifo);
    }
    end = std::max(end, o.last_pts_us / 1e6);
    o.show_fps = false;
    n.sync_opts = o.sync_opts;
    n.frame_number = o.frame_number;
    n.last_pts_us = o.last_pts_us;
    n.last_mux_dts = o.last_mux_dts;
    n.show_fps = true;
  }
  Finput_files_ts_offset[next] += std::llround(end * 1000000.0);
}

void TCustomFFmpeg::DrainResampler(TTranscodeState& r, TAVOutputStream& ost) {
  AVCodecContext* enc = ost.enc;
  if (!ost.resample || !ost.conv_buf) return;
  for (;;) {
    const int got = ff::swr_convert(ost.resample.get(), ost.conv_buf, ost.conv_samples, nullptr, 0);
    if (got <= 0) break;
    if (enc->frame_size > 1) {
      if (ff::av_audio_fifo_write(ost.fifo.get(), reinterpret_cast<void**>(ost.conv_buf), got) <
          got)
        throw FFmpegException(msg::kFifoRealloc);
      continue;
    }
    AVFrame* f = ost.audio_frame.get();
    ff::av_frame_unref(f);
    f->nb_samples = got;
    f->format = enc->sample_fmt;
    ff::av_channel_layout_copy(&f->ch_layout, &enc->ch_layout);
    f->sample_rate = enc->sample_rate;
    if (ff::av_frame_get_buffer(f, 0) < 0) throw FFmpegException(msg::kAudioEncodingFailed);
    ff::av_samples_copy(f->extended_data, ost.conv_buf, 0, 0, got, enc->ch_layout.nb_channels,
                        enc->sample_fmt);
    f->pts = ost.sync_opts;
    EncodeAndWrite(r, ost, f);
    ost.sync_opts += got;
  }
  ost.last_pts_us = ff::av_rescale(ost.sync_opts, 1000000, enc->sample_rate);
}

void TCustomFFmpeg::FlushEncoders(TTranscodeState& r) {
  // In join mode the streams in use are those of the last input read; they share the encoders
  // opened for the first.
  const size_t width = FJoinMode ? Foutput_files[0]->streams.size() : r.ost.size();
  const size_t first = FJoinMode ? static_cast<size_t>(r.segment) * width : 0;
  for (size_t i = first; i < r.ost.size() && i < first + width; ++i) {
    TAVOutputStream& ost = *r.ost[i];
    if (!ost.encoding_needed || !r.ost[i - first]->opened || !ost.enc) continue;
    AVCodecContext* enc = ost.enc;
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
      // What the resampler still holds, then the FIFO's last partial frame.
      DrainResampler(r, ost);
      // The drained samples may make more than one frame; the last one is short or padded.
      int left = 0;
      while (enc->frame_size > 1 && (left = ff::av_audio_fifo_size(ost.fifo.get())) > 0) {
        const int take = std::min(left, enc->frame_size);
        AVFrame* f = ost.audio_frame.get();
        const bool small_last = enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
        const int n = small_last ? take : enc->frame_size;
        ff::av_frame_unref(f);
        f->nb_samples = n;
        f->format = enc->sample_fmt;
        ff::av_channel_layout_copy(&f->ch_layout, &enc->ch_layout);
        f->sample_rate = enc->sample_rate;
        if (ff::av_frame_get_buffer(f, 0) < 0) throw FFmpegException(msg::kAudioEncodingFailed);
        ff::av_samples_set_silence(f->extended_data, 0, n, enc->ch_layout.nb_channels,
                                   enc->sample_fmt);
        ff::av_audio_fifo_read(ost.fifo.get(), reinterpret_cast<void**>(f->extended_data), take);
        f->pts = ost.sync_opts;
        EncodeAndWrite(r, ost, f);
        ost.sync_opts += take;
        ost.last_pts_us = ff::av_rescale(ost.sync_opts, 1000000, enc->sample_rate);
        ff::av_frame_unref(f);
      }
      EncodeAndWrite(r, ost, nullptr);
    } else if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
      EncodeVideo(r, ost, nullptr);
    }
  }
}

}  // namespace trelvix::engine
