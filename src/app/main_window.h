// TfrmMain: the program's one small skinned window. It owns the encoder (Zentrov), the preview
// player (FFPlayer), the logger (FFLogger), the two file dialogs and the two timers, and its
// handlers read like the steps of the workflow: Add file, Add subtitle, Start, Pause, Resume and
// Stop of a conversion, the player buttons, the end of a conversion. The rules without widgets
// live below it (encoder, player, profile, subtitles); the button states of each step are the
// table of window_state.h. The progress and preview display is in main_window_progress.cpp.
//
// Threads: every handler runs on the GUI thread. Progress and preview events arrive there
// through the main-thread queue; the end of a conversion arrives on a termination thread and is
// posted to the GUI thread; the subtitle hook (ZentrovCustomHook) runs on the conversion thread.
// A video's own subtitle track is read on a worker whose result is posted to the GUI thread.
#pragma once

#include <QFileDialog>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "app/finish_notifier.h"
#include "app/update_check.h"
#include "app/window_state.h"
#include "encoder/ff_encode.h"
#include "media/ff_log.h"
#include "player/ff_player.h"
#include "profile/progress_stats.h"
#include "subtitles/embedded_subtitles.h"
#include "subtitles/subtitle_hook.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPlainTextEdit;

namespace trelvix::app {

class TMBButton;
class TImageControl;
class TProgressImage;
class TfrmOption;

// The application title and the window caption.
inline constexpr char kApplicationTitle[] = "TrelvixToiPhone 1.3";
inline constexpr char kWindowCaption[] = "TrelvixToiPhone";
// The video dialog's filter (pairs of description and patterns separated by "|").
extern const char kVideoFilter[];

class TfrmMain : public QWidget {
 private:
  // The mailbox of PostTermination. Declared before the encoder, so that it outlives it: a
  // termination thread may still post while the encoder is destroyed, which waits for them.
  std::mutex FTerminationsLock;
  std::deque<encoder::TTerminateInfo> FTerminations;  // Guarded by FTerminationsLock.
  // The mailbox of a subtitle track read's result, handed over the same way.
  struct TTrackResult {
    uint64_t Id = 0;
    int Stream = -1;
    subtitles::TEmbeddedSubtitles Subtitles;
  };
  std::mutex FTrackResultsLock;
  std::deque<TTrackResult> FTrackResults;  // Guarded by FTrackResultsLock.

 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  // The options window, which builds the output records and loads subtitles. Not owned.
  void SetOptionWindow(TfrmOption* options) { FOptions = options; }

  // ---- Controls (children of the window)
  QWidget* Panel1;
  TImageControl* ImageBgn;
  TMBButton *btnAdd, *btnAddSub, *btnSubOn, *btnHi, *btnLo, *btnInfo, *btnMinimize, *btnClose;
  TMBButton *btnPlay, *btnPause, *btnStop, *btnStartConvert, *btnPauseConvert, *btnResumeConvert;
  QLabel* LProgress;
  TProgressImage* ImageProgress;
  QWidget* Panel;
  TImageControl* Image1;
  TImageControl *ImageInfoEn, *ImageInfoPL, *ImgN, *ImgT;
  QPlainTextEdit* mmoLog;
  QGroupBox* grpLogLevel;
  QButtonGroup* grpLogLevelItems;

  // ---- Non-visual members
  media::TFFLogger FFLogger;  // first: lives longer than the components that log
  encoder::TFFEncoder Zentrov;
  player::TFFPlayer FFPlayer;
  QFileDialog OpenDialog1;
  QFileDialog OpenTXT;
  QTimer TimerStat;
  QTimer TimerCheckVersion;

  // ---- Handlers
  void FormCreate();
  void FormResize();
  void FormMouseDown(QWidget* Sender, Qt::MouseButton button, QPoint at);
  void FormMouseMove(QWidget* Sender, Qt::MouseButtons buttons, Qt::KeyboardModifiers shift,
                     QPoint at);
  void FormCloseQuery();
  // Files dropped on the window (local file names).
  void WMDropFiles(const QStringList& files);
  // Add file: from the button (with the dialog), or with `file` already chosen (a drop, the
  // command line).
  void btnAddClick(TMBButton* Sender);
  void AddFile(const QString& file);
  void AddConvertTask(encoder::TInputOptions& in, encoder::TOutputOptions& out);
  void btnAddSubClick();
  // Puts the file into OpenTXT and loads it (LoadTXT), as Add subtitle does after its dialog.
  void LoadSubtitles(const QString& file);
  // True while the subtitle track of the video added last is being read (Start waits for it).
  bool SubtitleTrackReading() const { return FTrackRead != nullptr; }
  // True when a read has left its result for the GUI thread, which has not taken it yet. Any
  // thread.
  bool SubtitleTrackResultWaiting();
  void btnStartConvertClick();
  void btnPauseConvertClick();
  void btnResumeConvertClick();
  void btnPlayClick();
  void btnPauseClick();
  void btnStopClick();
  void btnInfoClick();
  void btnMinimizeClick();
  void btnCloseClick();
  void btnHiClick();
  void btnLoClick();
  void btnSubOnClick();
  void FFLoggerLog(runtime::TObject* Sender, uint32_t AThreadID, media::TLogLevel ALogLevel,
                   const std::string& ALogMsg);
  void ZentrovTerminate(runtime::TObject* Sender, const encoder::TTerminateInfo& ATerminateInfo);
  void ZentrovCustomHook(runtime::TObject* Sender, encoder::PHookInfo AHookInfo);
  void ZentrovProgress(runtime::TObject* Sender, encoder::PProgressInfo AProgressInfo);
  void ZentrovPreviewBitmap(runtime::TObject* Sender, const encoder::TPreviewInfo& APreviewInfo);
  void TimerStatTimer();
  void ProgressBar(int column);
  void ImageProgressMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
  void FFPlayerFileOpen(runtime::TObject* Sender, int64_t ADuration, int AFrameWidth,
                        int AFrameHeight, int& AScreenWidth, int& AScreenHeight);
  void FFPlayerPosition(runtime::TObject* Sender, int64_t APTS);
  // The update check's timer (once, 3 s after start) and the information pictures' click: hooks
  // that run the window's update check (CheckVersion) unless replaced.
  void TimerCheckVersionTimer();
  void ImageInfoEnClick();
  void SetOnCheckVersion(std::function<void()> fn) { FOnCheckVersion = std::move(fn); }
  void SetOnImageInfoClick(std::function<void()> fn) { FOnImageInfoClick = std::move(fn); }
  // Closing the window stops its request at once.
  TUpdateCheck& CheckVersion() { return FCheckVersion; }

  // ---- Window state
  // 1: the player buttons act on the player; 0: on the encoder.
  int PreviewMode() const { return FPreviewMode; }
  const QString& ProgressPrefix() const { return FProgressPrefix; }
  const QString& VersionText() const { return FVersion; }
  int64_t TotalDuration() const { return FTotalDuration; }
  int64_t CurrentDuration() const { return FCurrentDuration; }
  const profile::TProgressStatistics& Statistics() const { return FStatistics; }
  // The file names of the two dialogs.
  const QString& VideoFileName() const { return FVideoFileName; }
  const QString& SubtitleFileName() const { return FSubtitleFileName; }
  // Applies a row of the button state table.
  void ApplyState(TWindowState state);

 protected:
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void customEvent(QEvent* event) override;

 private:
  void CreateControls();
  TMBButton* MakeButton(const char* name, int left, int top, int width, int height, bool latching);
  void ConnectComponents();
  void LogMessage(const QString& text);  // "", text, ""
  void SetProgressText(const QString& text);
  // The end of a conversion, handed from a termination thread to the GUI thread without
  // blocking it: the record goes into the mailbox and an event wakes the GUI thread, which runs
  // ZentrovTerminate for each record.
  void PostTermination(const encoder::TTerminateInfo& info);
  void DeliverTerminations();
  void DetachEncoderHandlers();
  // The video's own text subtitle track in the user's language (else one flagged default or
  // forced), read on a worker; Start is disabled until its cues are in the timetable.
  void StartSubtitleTrackRead(decoder::TCustomDecoder& probe);
  // Gives up a read under way; a result it already posted is dropped.
  void StopSubtitleTrackRead();
  // The results the workers left in the mailbox, on the GUI thread.
  void DeliverSubtitleTracks();
  // The result of read `id` (stream `stream`), on the GUI thread.
  void SubtitleTrackRead(uint64_t id, int stream, subtitles::TEmbeddedSubtitles& result);
  media::TLogLevel SelectedLogLevel() const;
  // Runs handler and turns an escaping exception into a log line, so that none reaches Qt.
  void Guarded(const std::function<void()>& handler);

  TfrmOption* FOptions = nullptr;
  TStateButtons FStateButtons;
  int FPreviewMode = 1;
  bool FDragging = false;
  QPoint FDownPoint;
  bool FSystemMove = false;
  QString FProgressPrefix;
  QString FVersion;
  QString FVideoFileName;
  QString FSubtitleFileName;
  QString FOutputFileName;          // of the task added last
  TFinishNotifier FFinishNotifier;  // tells the desktop when a task ends while minimised
  int64_t FTotalDuration = 0;
  int64_t FCurrentDuration = 0;
  profile::TProgressStatistics FStatistics;
  subtitles::TSubtitleHook FSubtitleHook;
  std::unique_ptr<subtitles::TEmbeddedSubtitleRead> FTrackRead;  // the read under way, if any
  uint64_t FTrackReadId = 0;                                     // the read whose result is awaited
  std::function<void()> FOnCheckVersion{[this] { FCheckVersion.TimerCheckVersionTimer(); }};
  std::function<void()> FOnImageInfoClick{[this] { FCheckVersion.ImageInfoEnClick(); }};
  // Last, so that a request in flight stops first when the window goes.
  TUpdateCheck FCheckVersion{runtime::UserSettings(), profile::LocalNow, runtime::OpenURL};
};

}  // namespace trelvix::app
