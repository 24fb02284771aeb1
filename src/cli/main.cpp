// trelvix-iphone-cli: converts one video into an MP4 an iPhone plays, from a terminal.
//
//   trelvix-iphone-cli [--lo] [--log-level LEVEL] [--no-auto-subtitles] [TRACK OPTIONS]
//                      VIDEO [SUBTITLES]
//   trelvix-iphone-cli --info VIDEO
//
// SUBTITLES (.txt, .sub, .srt, .ssa, .ass, .smi) are burned into the picture with the subtitle
// settings of the companion player, as the window does. Without SUBTITLES, a subtitle file beside
// VIDEO with its base name is used when the companion player loads subtitles automatically
// (its default), else a text subtitle track of VIDEO in the user's language (or one flagged
// default or forced), unless --no-auto-subtitles is given. The audio track in the user's
// language (else the default one) is converted. The track options choose other tracks.
// The file is probed, the iPhone profile is built exactly as the window's Add file builds it, and
// one worker thread converts it while the main thread shows progress and serves the events the
// worker hands over. Ctrl+C stops the conversion cleanly (the output is finalised).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_progress.h"
#include "encoder/ff_encode.h"
#include "media/ff_log.h"
#include "profile/iphone_profile.h"
#include "profile/track_choice.h"
#include "runtime/application.h"
#include "runtime/file_utils.h"
#include "runtime/locale_utils.h"
#include "runtime/main_thread.h"
#include "runtime/settings_store.h"
#include "subtitles/embedded_subtitles.h"
#include "subtitles/option_model.h"
#include "subtitles/subtitle_beside.h"
#include "subtitles/subtitle_hook.h"

namespace {

using namespace trelvix;

std::atomic<bool> g_stop_requested{false};

void OnSignal(int) {
  g_stop_requested = true;
}

constexpr char kUsage[] =
    "Usage: trelvix-iphone-cli [--lo] [--log-level LEVEL] [--no-auto-subtitles]\n"
    "                          [--audio-track N | --audio-lang CODE]\n"
    "                          [--subtitle-track N | --subtitle-lang CODE] VIDEO [SUBTITLES]\n"
    "       trelvix-iphone-cli --info VIDEO\n"
    "       trelvix-iphone-cli --help | --version\n"
    "\n"
    "Converts VIDEO into an MP4 file an iPhone plays (H.264 480x320 at 25 fps, AAC stereo),\n"
    "with SUBTITLES burned into the picture when given (else those of a subtitle file beside\n"
    "VIDEO with the same base name, such as VIDEO.srt, or a text subtitle track of VIDEO in\n"
    "your language or flagged default or forced), and the audio track in your language (else\n"
    "the one flagged default), written next to it as NAME_(Trelvix)_iphone.mp4. A video\n"
    "recorded on a phone held upright comes out upright.\n"
    "\n"
    "  --lo              lower quality, smaller file (default: high quality)\n"
    "  --log-level LEVEL quiet, panic, fatal, error, warning, info, verbose, debug or a number\n"
    "                    (default: error)\n"
    "  --no-auto-subtitles  pick neither a subtitle file beside VIDEO nor a subtitle track\n"
    "                    of VIDEO on its own\n"
    "  --audio-track N   convert the N-th audio track of VIDEO (from 1)\n"
    "  --audio-lang CODE convert the first audio track in that language (pl, pol, en, eng ...)\n"
    "  --subtitle-track N    burn in the N-th subtitle track of VIDEO (from 1; text tracks only)\n"
    "  --subtitle-lang CODE  burn in the first text subtitle track in that language\n"
    "  --info            print the description of VIDEO and its tracks, and exit\n";

struct Options {
  bool lo = false;
  bool info = false;
  bool auto_subtitles = true;
  profile::TTrackRequest audio;
  profile::TTrackRequest subtitle;
  std::string log_level = "error";
  std::vector<std::string> files;
};

// The value after option i (advancing i); false when there is none.
bool OptionValue(int argc, char** argv, int& i, std::string& value) {
  if (i + 1 >= argc) {
    std::fprintf(stderr, "%s needs a value\n%s", argv[i], kUsage);
    return false;
  }
  value = argv[++i];
  return true;
}

// A track number from 1; false (with a message) for anything else.
bool TrackNumber(const std::string& option, const std::string& text, int& number) {
  size_t used = 0;
  try {
    number = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || number < 1) {
    std::fprintf(stderr, "%s needs a track number from 1, not \"%s\"\n", option.c_str(),
                 text.c_str());
    return false;
  }
  return true;
}

// 0: go on; otherwise the exit code.
int ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return -1;
    } else if (a == "--version") {
      std::printf("%s %s\n", profile::kProgramName, profile::kProgramVersion);
      return -1;
    } else if (a == "--lo") {
      o.lo = true;
    } else if (a == "--no-auto-subtitles") {
      o.auto_subtitles = false;
    } else if (a == "--info") {
      o.info = true;
    } else if (a == "--audio-track" || a == "--subtitle-track") {
      std::string value;
      profile::TTrackRequest& r = a == "--audio-track" ? o.audio : o.subtitle;
      if (!OptionValue(argc, argv, i, value) || !TrackNumber(a, value, r.Track)) return 2;
    } else if (a == "--audio-lang" || a == "--subtitle-lang") {
      profile::TTrackRequest& r = a == "--audio-lang" ? o.audio : o.subtitle;
      if (!OptionValue(argc, argv, i, r.Language)) return 2;
      if (profile::LanguageOfCode(r.Language) == QLocale::AnyLanguage) {
        std::fprintf(stderr, "%s: unknown language code \"%s\"\n", a.c_str(), r.Language.c_str());
        return 2;
      }
    } else if (a == "--log-level") {
      if (!OptionValue(argc, argv, i, o.log_level)) return 2;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    } else {
      o.files.push_back(a);
    }
  }
  const size_t wanted_max = o.info ? 1 : 2;
  if (o.files.empty() || o.files.size() > wanted_max) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return 0;
}

struct RunResult {
  std::atomic<bool> done{false};
  bool finished = false;
  bool exception = false;
  std::string message;
};

// Without a subtitle file: the subtitle track asked for, or the automatic one unless that is
// switched off, read into the timetable on a worker thread. False (the file closed, a message
// given) when a requested track cannot be used.
bool LoadSubtitleTrack(const Options& o, decoder::TCustomDecoder& probe, QLocale::Language language,
                       subtitles::TOptionModel& subtitle_options, bool& with_subtitles) {
  const bool requested = o.subtitle.Track != 0 || !o.subtitle.Language.empty();
  if (!requested && !o.auto_subtitles) return true;
  const profile::TTrackChoice choice = profile::ChooseSubtitleTrack(probe, o.subtitle, language);
  const std::string video = o.files[0];
  if (choice.Error.empty() && choice.StreamIndex >= 0) {
    subtitles::TEmbeddedSubtitles track =
        subtitles::LoadEmbeddedSubtitlesAsync(video, choice.StreamIndex,
                                              subtitle_options.FrameRate())
            .get();
    if (!track.Error.isEmpty()) {
      std::fprintf(stderr, "%s\n", track.Error.toStdString().c_str());
      if (requested) probe.CloseFile();
      return !requested;
    }
    if (track.Result.Loaded) {
      subtitle_options.TimeTXTEditor() = std::move(track.Timetable);
      with_subtitles = true;
      std::fprintf(stderr, "Subtitles: stream #%d of %s\n", choice.StreamIndex, video.c_str());
    }
    return true;
  }
  if (!choice.Error.empty()) {
    std::fprintf(stderr, "%s: %s\n", video.c_str(), choice.Error.c_str());
    probe.CloseFile();
    return false;
  }
  return true;
}

int Run(const Options& o) {
  media::TFFLogger logger;
  logger.SetTriggerEventInMainThread(false);
  try {
    logger.OptLogLevel(o.log_level);
  } catch (const std::exception&) {
    std::fprintf(stderr, "invalid log level: %s\n", o.log_level.c_str());
    return 2;
  }
  cli::TProgressDisplay progress(stderr, ::isatty(STDERR_FILENO) != 0);
  // The logger lets verbose messages through at every level; the terminal shows only what the
  // chosen level asks for.
  const media::TLogLevel shown = logger.LogLevel();
  logger.SetOnLog(
      [&, shown](runtime::TObject*, uint32_t tid, media::TLogLevel level, const std::string& msg) {
        if (level > shown) return;
        progress.Message("#" + std::to_string(tid) + "." + std::to_string(level) + ": " + msg);
      });

  encoder::TFFEncoder enc;
  if (!enc.LoadAVLib(runtime::ProgramDir() + "LibAV")) {
    std::fprintf(stderr, "%s\n", enc.LastErrMsg().c_str());
    return 1;
  }
  decoder::TFFDecoder& probe = *enc.Decoder();
  const std::string& video = o.files[0];
  if (!probe.LoadFile(video)) {
    std::fprintf(stderr, "***File load error: %s\n", probe.LastErrMsg().c_str());
    return 1;
  }
  if (o.info) {
    std::printf("%s\n%s", probe.FileInfoText().c_str(), profile::TrackListText(probe).c_str());
    probe.CloseFile();
    return 0;
  }
  // Frame-numbered subtitle files are timed with the frame rate of stream 0.
  subtitles::TOptionModel subtitle_options;
  subtitle_options.LoadSettings(runtime::UserSettings());
  const decoder::TVideoStreamInfo stream0 = probe.ReadVideoStreamInfo(0);
  subtitle_options.SetFrameRate(stream0.FrameRate.den > 0 && stream0.FrameRate.num > 0
                                    ? double(stream0.FrameRate.num) / stream0.FrameRate.den
                                    : 1.0);
  const QLocale::Language language = runtime::UserLanguage();
  const profile::TTrackChoice audio = profile::ChooseAudioTrack(probe, o.audio, language);
  if (!audio.Error.empty()) {
    std::fprintf(stderr, "%s: %s\n", video.c_str(), audio.Error.c_str());
    probe.CloseFile();
    return 2;
  }
  QString sub = o.files.size() > 1 ? QString::fromStdString(o.files[1]) : QString();
  if (sub.isEmpty() && o.auto_subtitles && subtitle_options.Settings().CLoadTXT) {
    sub = subtitles::FindSubtitleBeside(QString::fromStdString(video));
    if (!sub.isEmpty()) std::fprintf(stderr, "Subtitles: %s\n", sub.toStdString().c_str());
  }
  // A subtitle file wins over the video's own tracks.
  bool with_subtitles = !sub.isEmpty();
  if (!with_subtitles && !LoadSubtitleTrack(o, probe, language, subtitle_options, with_subtitles))
    return 2;
  if (!sub.isEmpty()) {
    if (!subtitles::IsSubtitleFileName(sub)) {
      std::fprintf(stderr, "Not a subtitle file (.txt, .sub, .srt, .ssa, .ass, .smi): %s\n",
                   sub.toStdString().c_str());
      probe.CloseFile();
      return 2;
    }
    const subtitles::TLoadTXTResult loaded = subtitle_options.LoadTXT(sub);
    if (!loaded.Loaded) {
      std::fprintf(stderr, "Subtitles not loaded from %s%s%s\n", sub.toStdString().c_str(),
                   loaded.Error.isEmpty() ? "" : ": ", loaded.Error.toStdString().c_str());
      probe.CloseFile();
      return 1;
    }
  }

  profile::TIPhoneProfile profile;
  profile.SetQuality(o.lo ? profile::TQuality::Lo : profile::TQuality::Hi);
  profile.SetSourceDecoder(&probe);
  profile.SetAudioStream(audio.StreamIndex);
  encoder::TOutputOptions out;
  encoder::TInputOptions in;
  profile.BuildOutputOptions(out);
  profile.BuildInputOptions(in);
  probe.CloseFile();
  // Without subtitles nothing is drawn, so the frames need not make the round trip through a
  // bitmap: the output is the same picture, converted faster and without the colour round trip.
  if (!with_subtitles) out.VideoInputHook = false;

  const int task = enc.AddTask(in.FileName, &in);
  if (task < 0) {
    std::fprintf(stderr, "***File open error: %s\n", enc.LastErrMsg().c_str());
    return 1;
  }
  if (!enc.SetOutputFile(task, out.FileName, &out)) {
    std::fprintf(stderr, "***Cannot do convert, error: %s\n", enc.LastErrMsg().c_str());
    enc.RemoveTask(task);
    return 1;
  }

  subtitles::TSubtitleHook burn_in;
  if (with_subtitles) {
    runtime::EnsureGuiApplication();  // text drawing needs the GUI application object
    burn_in.StartConversion(subtitle_options.TimeTXTEditor(), subtitle_options.Settings(),
                            subtitle_options.FrameRate());
    burn_in.SetSubtitlesOn(true);
    // Only frames that show a subtitle are touched, only where it goes: the conversion lays the
    // ready subtitle on itself where it can, else hands over a bitmap of just that part.
    enc.SetOnVideoInputHookQuery([&](runtime::TObject*, int32_t, int32_t width, int32_t height,
                                     int32_t number, int64_t pts, bool& stop) {
      const runtime::TRect area = burn_in.Prepare(width, height, pts, number, stop);
      return runtime::TDrawArea(area, burn_in.PreparedOverlay());
    });
    enc.SetOnVideoInputHook([&](runtime::TObject*, encoder::PHookInfo info) {
      info->Update = burn_in.Process(*info->Bitmap, info->PTS, info->FrameNumber, info->StopHook);
    });
  }

  RunResult result;
  enc.SetOnProgress([&](runtime::TObject*, encoder::PProgressInfo p) {
    progress.Update({p->CurrentDuration, p->TotalDuration, p->FPS, p->CurrentSize});
  });
  enc.SetOnTerminate([&](runtime::TObject*, const encoder::TTerminateInfo& t) {
    if (t.TaskIndex < 0) {
      result.done = true;
      return;
    }
    result.finished = t.Finished;
    result.exception = t.Exception;
    result.message = t.ExceptionMsg;
  });

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  enc.Start(1);
  bool stopping = false;
  auto next_tick = std::chrono::steady_clock::now();
  while (!result.done) {
    runtime::CheckSynchronize(50);
    if (g_stop_requested && !stopping) {
      stopping = true;
      enc.Stop(false);
    }
    if (std::chrono::steady_clock::now() >= next_tick) {
      progress.Tick();
      next_tick += std::chrono::milliseconds(profile::kStatIntervalMs);
    }
  }
  progress.Finish();
  enc.SetOnProgress(nullptr);
  enc.SetOnTerminate(nullptr);
  enc.ClearTasks();

  if (result.exception) {
    std::fprintf(stderr, "Conversion failed: %s\n", result.message.c_str());
    return 1;
  }
  if (!result.finished) {
    std::fprintf(stderr, "Conversion stopped; the part converted so far is in %s\n",
                 out.FileName.c_str());
    return 130;
  }
  std::printf("%s\n", out.FileName.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  Options o;
  if (const int r = ParseArgs(argc, argv, o); r != 0) return r < 0 ? 0 : r;
  return Run(o);
}
