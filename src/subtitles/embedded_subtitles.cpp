#include "subtitles/embedded_subtitles.h"

#include <algorithm>
#include <cstdio>

#include "media/ff_ptr.h"
#include "media/ff_utils.h"
#include "media/ffapi.h"
#include "media/unicode_io.h"

namespace trelvix::subtitles {
namespace {

// SubStation cues in a container hold the fields of an events line without its start and end:
// ReadOrder, Layer, Style, Name, MarginL, MarginR, MarginV, Effect, Text. The synthetic lines
// put the start in front of them, after a field that stands where a file has "Dialogue: 0".
constexpr char kAssFormatLine[] =
    "Format: Marked, Start, ReadOrder, Layer, Style, Name, MarginL, MarginR, MarginV, Effect, Text";

constexpr int kMaxCueText = 255;

// The demuxer's interrupt callback: a set flag abandons opening and reading.
int Cancelled(void* flag) {
  return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

TEmbeddedTrackLines GivenUp(const std::string& file_name) {
  TEmbeddedTrackLines out;
  out.Error = QStringLiteral("%1: reading given up").arg(QString::fromStdString(file_name));
  return out;
}

bool IsAss(AVCodecID id) {
  return id == AV_CODEC_ID_ASS || id == AV_CODEC_ID_SSA;
}

// The cue text of a packet; mov_text cues start with their length in two bytes, big-endian,
// and carry style boxes after the text.
QString CueText(AVCodecID id, const AVPacket& pkt) {
  const char* data = reinterpret_cast<const char*>(pkt.data);
  int size = pkt.size;
  if (id == AV_CODEC_ID_MOV_TEXT) {
    if (size < 2) return {};
    const int len = (pkt.data[0] << 8) | pkt.data[1];
    data += 2;
    size = std::min(len, size - 2);
  }
  while (size > 0 && data[size - 1] == '\0') --size;
  QString text = QString::fromUtf8(data, size);
  text.remove(u'\r');
  return text;
}

QString SrtTime(int64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld,%03lld",
                static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return QString::fromLatin1(buf);
}

QString AssTime(int64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%02lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms / 10 % 100));
  return QString::fromLatin1(buf);
}

}  // namespace

bool IsTextSubtitleCodec(const std::string& codec_name) {
  for (const char* name : {"subrip", "srt", "ass", "ssa", "mov_text", "webvtt", "text"})
    if (codec_name == name) return true;
  return false;
}

TEmbeddedTrackLines ReadEmbeddedSubtitleLines(const std::string& file_name, int stream_index,
                                              const std::atomic<bool>* cancel) {
  TEmbeddedTrackLines out;
  media::InputFormatPtr ctx;
  media::UnicodeIOPtr io;
  const AVIOInterruptCB interrupt{Cancelled, const_cast<std::atomic<bool>*>(cancel)};
  const int ret = media::OpenInputFile(ctx, io, media::LibFileName(file_name), nullptr, nullptr,
                                       cancel ? &interrupt : nullptr);
  if (cancel && cancel->load()) return GivenUp(file_name);
  if (ret < 0) {
    out.Error = QString::fromStdString(media::LibErrorText(file_name, ret));
    return out;
  }
  if (stream_index < 0 || stream_index >= static_cast<int>(ctx->nb_streams) ||
      ctx->streams[stream_index]->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) {
    out.Error = QStringLiteral("%1: stream #%2 is not a subtitle track")
                    .arg(QString::fromStdString(file_name))
                    .arg(stream_index);
    return out;
  }
  AVStream* st = ctx->streams[stream_index];
  const AVCodecID id = st->codecpar->codec_id;
  const AVCodecDescriptor* desc = ff::avcodec_descriptor_get(id);
  if (!desc || !IsTextSubtitleCodec(desc->name)) {
    out.Error = QStringLiteral("%1: stream #%2 holds %3 subtitles, not text")
                    .arg(QString::fromStdString(file_name))
                    .arg(stream_index)
                    .arg(desc ? desc->name : "unknown");
    return out;
  }
  for (unsigned i = 0; i < ctx->nb_streams; ++i)
    ctx->streams[i]->discard = int(i) == stream_index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

  const bool ass = IsAss(id);
  out.Extension = ass ? QStringLiteral(".ASS") : QStringLiteral(".SRT");
  if (ass) {
    out.Lines << QStringLiteral("[Events]") << QString::fromLatin1(kAssFormatLine);
  }
  // Cue times on the file's time line, which starts at the container's start time.
  const int64_t origin_us = ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time : 0;
  media::PacketPtr pkt = media::MakePacket();
  int cue = 0;
  while (!(cancel && cancel->load()) && ff::av_read_frame(ctx.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == stream_index) {
      const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
      const QString text = CueText(id, *pkt);
      if (ts != AV_NOPTS_VALUE && !text.trimmed().isEmpty()) {
        const int64_t start_ms = std::max<int64_t>(
            0, (ff::av_rescale_q(ts, st->time_base, AV_TIME_BASE_Q) - origin_us) / 1000);
        const int64_t end_ms =
            start_ms +
            std::max<int64_t>(0, ff::av_rescale_q(pkt->duration, st->time_base, {1, 1000}));
        if (ass) {
          out.Lines << QStringLiteral("Dialogue: 0,") + AssTime(start_ms) + u',' + text;
        } else {
          out.Lines << QString::number(++cue)
                    << SrtTime(start_ms) + QStringLiteral(" --> ") + SrtTime(end_ms);
          out.Lines << text.split(u'\n');
        }
      }
    }
    ff::av_packet_unref(pkt.get());
  }
  if (cancel && cancel->load()) return GivenUp(file_name);
  return out;
}

TEmbeddedSubtitles LoadEmbeddedSubtitles(const std::string& file_name, int stream_index,
                                         double frame_rate, const std::atomic<bool>* cancel) {
  TEmbeddedSubtitles r;
  TEmbeddedTrackLines lines = ReadEmbeddedSubtitleLines(file_name, stream_index, cancel);
  if (!lines.Error.isEmpty()) {
    r.Error = lines.Error;
    return r;
  }
  r.Result = LoadTXTLines(lines.Lines, lines.Extension, frame_rate, r.Timetable);
  // A cue is one row; it keeps the bound a row taken from one line of a file has.
  for (int i = 0; i < r.Timetable.Count(); ++i)
    if (r.Timetable.Row(i).Text.size() > kMaxCueText)
      r.Timetable.SetText(i, r.Timetable.Row(i).Text.left(kMaxCueText));
  return r;
}

std::future<TEmbeddedSubtitles> LoadEmbeddedSubtitlesAsync(const std::string& file_name,
                                                           int stream_index, double frame_rate) {
  return std::async(std::launch::async, LoadEmbeddedSubtitles, file_name, stream_index, frame_rate,
                    nullptr);
}

TEmbeddedSubtitleRead::TEmbeddedSubtitleRead(const std::string& file_name, int stream_index,
                                             double frame_rate, TDone done)
    : worker_(std::async(std::launch::async, [this, file_name, stream_index, frame_rate,
                                              done = std::move(done)] {
        TEmbeddedSubtitles r = LoadEmbeddedSubtitles(file_name, stream_index, frame_rate, &cancel_);
        if (!cancel_.load() && done) done(std::move(r));
      })) {}

TEmbeddedSubtitleRead::~TEmbeddedSubtitleRead() {
  cancel_.store(true);
  if (worker_.valid()) worker_.wait();
}

}  // namespace trelvix::subtitles
