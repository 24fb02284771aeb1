// The options window's state without its widgets: the subtitle settings as its controls hold
// them (with their ranges and change handlers), the subtitle timetable of its editor, the video
// frame rate for frame-numbered subtitles, and what the window does at creation: read the
// settings, record the program, handle the command line. The window (TfrmOption) and the
// headless converter both use it. Main thread.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "runtime/settings_store.h"
#include "subtitles/subtitle_loader.h"
#include "subtitles/subtitle_settings.h"
#include "subtitles/timetable.h"

namespace trelvix::subtitles {

// What FormCreate asks of the main window.
struct TStartupActions {
  std::function<bool()> AddEnabled;                 // btnAdd is enabled
  std::function<void(const QString&)> AddFile;      // add this video without the dialog
  std::function<bool()> AddSubEnabled;              // btnAddSub is enabled
  std::function<void(const QString&)> AddSubtitle;  // put it into OpenTXT and run LoadTXT
  std::function<void(const QString&)> ReportError;  // tell the user (the program key failed)
};

class TOptionModel {
 public:
  TOptionModel() = default;
  TOptionModel(const TOptionModel&) = delete;
  TOptionModel& operator=(const TOptionModel&) = delete;

  const TSubtitleSettings& Settings() const { return s_; }

  // The controls. Each setter keeps the value within its control's range (TSubtitleSettings::k…)
  // and runs the control's change handler, as the window does when a value is loaded.
  void SetFWidth(double v);
  void SetIQTime(int v);
  void SetIQDziel(bool v) { s_.IQDziel = v; }
  void SetIQZmniejsz(bool v) { s_.IQZmniejsz = v; }
  void SetEFontName(const QString& v) { s_.EFontName = v; }
  void SetEFontSize(double v);  // EFontSizeChange: the preview font takes Trunc(v) points
  void SetFontColor(runtime::TColor v) { s_.FontColor = v & 0xFFFFFF; }
  void SetFontStyle(runtime::TFontStyles v) { s_.FontStyle = v & 0x0F; }
  void SetFontCharset(int v) { s_.FontCharset = v; }
  void SetEObwodka(double v);  // EObwodkaChange: the tag becomes Trunc(v)
  void SetIQNapisow(bool v) { s_.IQNapisow = v; }
  void SetFontAutoHeight(bool v) { s_.FontAutoHeight = v; }
  void SetFontVol(double v);
  void SetNapisyCzas(double v);  // NapisyCzasChange: the tag becomes Trunc(v × 1000) ms
  void SetNapisBottom(double v);
  void SetFontType(int v);
  void SetCLoadTXT(bool v) { s_.CLoadTXT = v; }
  void SetDirectoryTXT(const QString& v) { s_.DirectoryTXT = v; }
  void SetAllTXTToMenu(bool v) { s_.AllTXTToMenu = v; }
  // Builds the subtitle font (the preview panel's) from the font-name edit, Trunc(EFontSize)
  // points, FontStyle, FontCharset and FontColor.
  void BuildSubtitleFont();

  // The fixed display time in milliseconds (the NapisyCzas tag).
  int DisplayTime() const { return s_.NapisyCzasTag; }

  // Reads the settings from kSettingsKey in their fixed order; the first value that cannot be
  // read ends the reading, leaving it and the later ones at their defaults. No key: defaults.
  void LoadSettings(runtime::TSettingsStore& store);
  // Writes "Name", "ShortName", "Path" and "Version" under kProgramKey. On failure returns false
  // with the store's reason in error.
  static bool RecordProgram(runtime::TSettingsStore& store, const QString& program_path,
                            QString* error = nullptr);
  // The command line (arguments after the program name): a first argument naming an existing
  // file is added as a video; then a second argument with a subtitle extension is loaded.
  // Errors are ignored.
  static void HandleCommandLine(const QStringList& args, const TStartupActions& actions);
  // Window creation: LoadSettings, RecordProgram (its failure is reported and the command line
  // is then left alone), HandleCommandLine.
  void FormCreate(runtime::TSettingsStore& store, const QString& program_path,
                  const QStringList& args, const TStartupActions& actions);

  // The timetable (the editor "TimeTXTEditor").
  TSubtitleTimetable& TimeTXTEditor() { return timetable_; }
  const TSubtitleTimetable& TimeTXTEditor() const { return timetable_; }
  // Frames per second of the video's stream 0, for MicroDVD files; 1.0 until a video is added.
  double FrameRate() const { return frame_rate_; }
  void SetFrameRate(double fps) { frame_rate_ = fps; }
  // Loads a subtitle file into the timetable (see LoadTXTFile). The caller shows and sets the
  // subtitle switch when the result says Loaded, and shows Error when there is one.
  TLoadTXTResult LoadTXT(const QString& file_name);
  // Takes rows loaded from elsewhere (a video's own subtitle track) as LoadTXT takes a file's:
  // the timetable and the format kind of a load that was not rejected.
  void LoadTimetable(TSubtitleTimetable timetable, const TLoadTXTResult& loaded);
  // The format kind of the last load.
  int FormatKind() const { return kind_; }

 private:
  TSubtitleSettings s_;
  TSubtitleTimetable timetable_;
  double frame_rate_ = 1.0;
  int kind_ = skLineTiming;
};

}  // namespace trelvix::subtitles
