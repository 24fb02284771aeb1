#include "profile/track_choice.h"

#include <QRegularExpression>
#include <QString>
#include <functional>
#include <vector>

#include "decoder/custom_decoder.h"
#include "runtime/format.h"

namespace trelvix::profile {
namespace {

using runtime::Format;

struct TTrack {
  int stream = -1;
  std::string language;
  bool default_flag = false;
  bool forced = false;
  bool bitmap = false;
};

std::vector<TTrack> AudioTracks(decoder::TCustomDecoder& d) {
  std::vector<TTrack> tracks;
  for (int i = 0; i < d.StreamCount(); ++i) {
    if (!d.IsAudioStream(i)) continue;
    const decoder::TAudioStreamInfo info = d.ReadAudioStreamInfo(i);
    tracks.push_back({i, info.Language, info.Default, info.Forced, false});
  }
  return tracks;
}

std::vector<TTrack> SubtitleTracks(decoder::TCustomDecoder& d) {
  // MP4 and QuickTime muxers enable the first track of every kind when none is, and the enabled
  // flag reads back as the default one: there it is no wish to show the subtitles.
  const bool enabled_means_default = d.FormatName().rfind("mov,", 0) != 0;
  std::vector<TTrack> tracks;
  for (int i = 0; i < d.StreamCount(); ++i) {
    if (!d.IsSubtitleStream(i)) continue;
    const decoder::TSubtitleStreamInfo info = d.ReadSubtitleStreamInfo(i);
    tracks.push_back(
        {i, info.Language, info.Default && enabled_means_default, info.Forced, info.Bitmap});
  }
  return tracks;
}

bool InLanguage(const TTrack& t, QLocale::Language language) {
  return language != QLocale::AnyLanguage && LanguageOfCode(t.language) == language;
}

// The requested track (by number, else by language); nothing requested gives -1 and no error.
TTrackChoice Requested(const std::vector<TTrack>& tracks, const TTrackRequest& request,
                       const char* kind) {
  TTrackChoice c;
  if (request.Track != 0) {
    if (request.Track < 1 || request.Track > int(tracks.size()))
      c.Error = Format("there is no %s track %d (the file has %d)", kind, request.Track,
                       int(tracks.size()));
    else
      c.StreamIndex = tracks[size_t(request.Track - 1)].stream;
    return c;
  }
  if (request.Language.empty()) return c;
  const QLocale::Language wanted = LanguageOfCode(request.Language);
  if (wanted == QLocale::AnyLanguage) {
    c.Error = Format("unknown language code: %s", request.Language.c_str());
    return c;
  }
  for (const TTrack& t : tracks)
    if (InLanguage(t, wanted) && !t.bitmap) {
      c.StreamIndex = t.stream;
      return c;
    }
  c.Error = Format("there is no %s track in the language %s", kind, request.Language.c_str());
  return c;
}

int FirstWhere(const std::vector<TTrack>& tracks, const std::function<bool(const TTrack&)>& pred) {
  for (const TTrack& t : tracks)
    if (pred(t)) return t.stream;
  return -1;
}

std::string Flags(const std::string& language, bool default_flag, bool forced) {
  std::string s;
  s += ", language " + (language.empty() ? std::string("not set") : language);
  if (default_flag) s += ", default";
  if (forced) s += ", forced";
  return s;
}

}  // namespace

QLocale::Language LanguageOfCode(const std::string& code) {
  QString c = QString::fromStdString(code).trimmed().toLower();
  const qsizetype cut = c.indexOf(QRegularExpression("[-_]"));
  if (cut >= 0) c.truncate(cut);
  if (c.isEmpty() || c == u"und") return QLocale::AnyLanguage;
  const QLocale::Language l = QLocale::codeToLanguage(c);
  return l == QLocale::C ? QLocale::AnyLanguage : l;
}

TTrackChoice ChooseAudioTrack(decoder::TCustomDecoder& d, const TTrackRequest& request,
                              QLocale::Language language) {
  const std::vector<TTrack> tracks = AudioTracks(d);
  if (request.Track != 0 || !request.Language.empty()) return Requested(tracks, request, "audio");
  TTrackChoice c;
  if (tracks.size() < 2) return c;
  c.StreamIndex = FirstWhere(tracks, [&](const TTrack& t) { return InLanguage(t, language); });
  if (c.StreamIndex < 0)
    c.StreamIndex = FirstWhere(tracks, [](const TTrack& t) { return t.default_flag; });
  return c;
}

TTrackChoice ChooseSubtitleTrack(decoder::TCustomDecoder& d, const TTrackRequest& request,
                                 QLocale::Language language) {
  const std::vector<TTrack> tracks = SubtitleTracks(d);
  if (request.Track != 0 || !request.Language.empty()) {
    TTrackChoice c = Requested(tracks, request, "subtitle");
    if (c.Error.empty() && request.Track != 0 && tracks[size_t(request.Track - 1)].bitmap) {
      c.StreamIndex = -1;
      c.Error = Format("subtitle track %d holds pictures, not text; only text tracks are burned in",
                       request.Track);
    }
    return c;
  }
  TTrackChoice c;
  c.StreamIndex =
      FirstWhere(tracks, [&](const TTrack& t) { return !t.bitmap && InLanguage(t, language); });
  if (c.StreamIndex < 0)
    c.StreamIndex = FirstWhere(
        tracks, [](const TTrack& t) { return !t.bitmap && (t.default_flag || t.forced); });
  return c;
}

std::string TrackListText(decoder::TCustomDecoder& d) {
  std::string out;
  int video = 0, audio = 0, subtitle = 0;
  for (int i = 0; i < d.StreamCount(); ++i) {
    if (d.IsVideoStream(i)) {
      const decoder::TVideoStreamInfo v = d.ReadVideoStreamInfo(i);
      out += Format("Video track %d: stream #%d%s, rotation %d", ++video, i,
                    Flags(v.Language, v.Default, v.Forced).c_str(), v.Rotation);
      if (v.Mirrored) out += ", mirrored";
      out += "\n";
    } else if (d.IsAudioStream(i)) {
      const decoder::TAudioStreamInfo a = d.ReadAudioStreamInfo(i);
      out += Format("Audio track %d: stream #%d%s\n", ++audio, i,
                    Flags(a.Language, a.Default, a.Forced).c_str());
    } else if (d.IsSubtitleStream(i)) {
      const decoder::TSubtitleStreamInfo s = d.ReadSubtitleStreamInfo(i);
      out += Format("Subtitle track %d: stream #%d%s, %s", ++subtitle, i,
                    Flags(s.Language, s.Default, s.Forced).c_str(), s.Codec.c_str());
      out += s.Bitmap ? ", pictures: left alone (only text subtitles are burned in)\n" : "\n";
    }
  }
  return out;
}

}  // namespace trelvix::profile
