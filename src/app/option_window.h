// TfrmOption ("Output Options"): the options window, created hidden after the main window and
// never shown by the program. Its three tabs ("Napisy", "IQText", "Editor") are a view over the
// subtitle settings model and the subtitle timetable, kept in step with them both ways. It reads
// the companion player's settings, records the program and handles the command line at creation,
// builds the output records of a probed file (with the quality of the main window's btnHi) and
// loads subtitle files with the frame rate that Add file keeps. GUI thread.
#pragma once

#include <QWidget>
#include <functional>

#include "encoder/option_records.h"
#include "profile/iphone_profile.h"
#include "runtime/settings_store.h"
#include "subtitles/option_model.h"

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QButtonGroup;
class QSlider;
class QTableWidget;
class QTabWidget;
class QPlainTextEdit;

namespace trelvix::app {

class TfrmMain;

inline constexpr char kOptionsCaption[] = "Output Options";

class TfrmOption : public QWidget {
 public:
  // hi_down tells whether the main window's btnHi is down (the Hi quality).
  explicit TfrmOption(std::function<bool()> hi_down, QWidget* parent = nullptr);
  ~TfrmOption() override;

  // Window creation: reads the settings from store, records the program (program_path) and
  // handles the command line (args after the program name) through the main window. A failure
  // to record the program is shown to the user and the command line is then left alone.
  void FormCreate(runtime::TSettingsStore& store, const QString& program_path,
                  const QStringList& args, TfrmMain& main);

  // The output profile of the probed file, for Add file in this order.
  void SetSourceDecoder(decoder::TCustomDecoder* decoder) { FProfile.SetSourceDecoder(decoder); }
  void BuildOutputOptions(encoder::TOutputOptions& out);
  void BuildInputOptions(encoder::TInputOptions& in);

  // Subtitles.
  void SetFrameRate(double fps) { FModel.SetFrameRate(fps); }
  double FrameRate() const { return FModel.FrameRate(); }
  subtitles::TLoadTXTResult LoadTXT(const QString& file_name);
  // Rows read from a video's own subtitle track, shown in the editor as a loaded file's are.
  void LoadTimetable(subtitles::TSubtitleTimetable timetable,
                     const subtitles::TLoadTXTResult& loaded);
  const subtitles::TSubtitleSettings& Settings() const { return FModel.Settings(); }
  const subtitles::TSubtitleTimetable& TimeTXTEditor() const { return FModel.TimeTXTEditor(); }
  subtitles::TOptionModel& Model() { return FModel; }

  // ---- Controls
  QTabWidget* Tabs;
  QLineEdit* EFontName;
  QDoubleSpinBox *EFontSize, *EObwodka, *FontVol, *NapisyCzas, *NapisBottom, *FWidth;
  QWidget* WzorKolor;
  QLabel* PanelWzor;
  QCheckBox *CSubFontAutoHeight, *CIQText, *CIQDziel, *CIQZmniejsz, *CIQLoadTXT, *CIQAllTXTToMenu;
  QButtonGroup* GSubFontType;
  QSlider* IQTime;
  QLineEdit* DirectoryTXT;
  QTableWidget* TimeTXTEditorView;
  QPlainTextEdit* Napisy;

  // Puts the model's values into the controls (after loading settings).
  void ModelToControls();
  // Shows the timetable in the editor.
  void TimetableToEditor();

 private:
  QWidget* MakeSubtitlesTab();
  QWidget* MakeIQTextTab();
  QWidget* MakeEditorTab();
  void ConnectControls();
  void UpdateFontPreview();

  std::function<bool()> FHiDown;
  subtitles::TOptionModel FModel;
  profile::TIPhoneProfile FProfile;
  bool FUpdating = false;  // controls are being filled from the model
};

}  // namespace trelvix::app
