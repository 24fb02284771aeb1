#include "app/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QWindow>
#include <exception>

#include "app/file_filter.h"
#include "app/image_control.h"
#include "app/option_window.h"
#include "app/progress_image.h"
#include "app/widgets/mb_button.h"
#include "app/widgets/skin.h"
#include "decoder/ff_decoder.h"
#include "profile/iphone_profile.h"
#include "profile/track_choice.h"
#include "runtime/application.h"
#include "runtime/file_utils.h"
#include "runtime/locale_utils.h"
#include "subtitles/subtitle_beside.h"
#include "subtitles/subtitle_loader.h"

namespace trelvix::app {

// One line, so that the exact text can be found.
// clang-format off
const char kVideoFilter[] =
    "Video/Audio Files|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;*.OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;|Video Files|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;*.OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;|Audio Files|*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;|All Files|*.*";
// clang-format on

namespace {

constexpr char kSubtitleDialogTitle[] = "Quendal - Wybierz Tekst";
constexpr char kSubtitleDefaultExt[] = "*.txt;*.sub;*.srt;*.ssa;*.smi;*.ass";
constexpr char kSubtitleFilter[] =
    "Teksty do Filmów|*.txt;*sub;*.srt;*.ssa;*.smi;*.ass|Wszystkie Pliki|*.*";
constexpr char kPrefixEnglish[] = "Progress: ";
constexpr char kPrefixPolish[] = "Postęp: ";
constexpr char kMsgFileLoadError[] = "***File load error: ";
constexpr char kMsgFileOpenError[] = "***File open error: ";
constexpr char kMsgFileAdded[] = "***File has been added to convert list.";
constexpr char kMsgCannotConvert[] = "***Cannot do convert, error: ";
constexpr char kMsgSubtitlesLoaded[] = "***Subtitles have been loaded: ";
constexpr int kStatIntervalMs = profile::kStatIntervalMs;
constexpr int kCheckVersionDelayMs = 3000;
constexpr int kLogLines = 20000;  // the hidden log keeps the newest lines
constexpr const char* kLogLevelNames[] = {"Quiet",   "Panic", "Fatal",   "Error",
                                          "Warning", "Info",  "Verbose", "Debug"};

// The window's font: Tahoma 8 pt (11 pixels), or the nearest sans font that exists.
QFont WindowFont() {
  QFont f;
  f.setFamilies(
      {QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(11);
  return f;
}

// The background's logical size (the skin's, also while its picture is missing).
QSize BackgroundSize() {
  return {skin::kBackgroundWidth, skin::kBackgroundHeight};
}

void Place(QWidget* w, int left, int top, int width, int height) {
  w->setGeometry(left, top, width, height);
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("frmMain"));
  CreateControls();
  ConnectComponents();
  FormCreate();
}

TfrmMain::~TfrmMain() {
  // Nothing of a running conversion, playback or subtitle read may reach the window while it
  // goes.
  FTrackRead.reset();
  DetachEncoderHandlers();
  Zentrov.Stop(true);
  FFPlayer.SetOnFileOpen(nullptr);
  FFPlayer.SetOnPosition(nullptr);
  FFPlayer.Stop(true);
  FFLogger.SetOnLog(nullptr);
}

TMBButton* TfrmMain::MakeButton(const char* name, int left, int top, int width, int height,
                                bool latching) {
  auto* b = new TMBButton(this);
  b->setObjectName(QLatin1String(name));
  Place(b, left, top, width, height);
  b->SetBorder(false);
  b->SetButtonStyle(latching ? TButtonStyle::btSpeed : TButtonStyle::btNormal);
  b->setCursor(Qt::PointingHandCursor);
  skin::ApplyGlyphs(*b, QLatin1String(name));
  return b;
}

void TfrmMain::CreateControls() {
  setWindowTitle(QLatin1String(kWindowCaption));
  setWindowIcon(skin::ProgramIcon());
  setFont(WindowFont());
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  setPalette(pal);
  setAcceptDrops(true);

  const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
  Panel1 = new QWidget(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  ImageBgn = new TImageControl(Panel1);
  ImageBgn->setObjectName(QStringLiteral("ImageBgn"));
  ImageBgn->SetPicture(skin::Background(dpr));
  const QSize bgn = BackgroundSize();
  Place(Panel1, 0, 0, bgn.width(), bgn.height());
  Place(ImageBgn, 0, 0, bgn.width(), bgn.height());

  Panel = new QWidget(this);
  Panel->setObjectName(QStringLiteral("Panel"));
  Place(Panel, 25, 96, 223, 128);
  Panel->hide();
  Image1 = new TImageControl(Panel);
  Image1->setObjectName(QStringLiteral("Image1"));
  Place(Image1, 0, 0, 223, 128);
  Image1->SetStretch(true);

  ImageInfoEn = new TImageControl(this);
  ImageInfoEn->setObjectName(QStringLiteral("ImageInfoEn"));
  Place(ImageInfoEn, 240, 96, 223, 281);
  ImageInfoEn->SetPicture(skin::InfoPicture(false, dpr));
  ImageInfoPL = new TImageControl(this);
  ImageInfoPL->setObjectName(QStringLiteral("ImageInfoPL"));
  Place(ImageInfoPL, 256, 96, 223, 281);
  ImageInfoPL->SetPicture(skin::InfoPicture(true, dpr));
  for (TImageControl* info : {ImageInfoEn, ImageInfoPL}) {
    info->hide();
    info->setCursor(Qt::PointingHandCursor);
  }

  ImgN = new TImageControl(this);
  ImgN->setObjectName(QStringLiteral("ImgN"));
  Place(ImgN, 280, 320, 33, 33);
  ImgN->SetPicture(skin::Pattern(QStringLiteral("ImgN")));
  ImgT = new TImageControl(this);
  ImgT->setObjectName(QStringLiteral("ImgT"));
  Place(ImgT, 280, 360, 33, 33);
  ImgT->SetPicture(skin::Pattern(QStringLiteral("ImgT")));

  btnAdd = MakeButton("btnAdd", 30, 378, 34, 39, false);
  btnAddSub = MakeButton("btnAddSub", 68, 378, 35, 39, false);
  btnSubOn = MakeButton("btnSubOn", 98, 390, 14, 12, true);
  btnHi = MakeButton("btnHi", 83, 352, 20, 15, true);
  btnLo = MakeButton("btnLo", 108, 352, 21, 15, true);
  btnInfo = MakeButton("btnInfo", 155, 378, 27, 39, true);
  btnInfo->setCursor(Qt::WhatsThisCursor);
  btnMinimize = MakeButton("btnMinimize", 185, 378, 27, 39, false);
  btnClose = MakeButton("btnClose", 216, 378, 27, 39, false);
  btnPlay = MakeButton("btnPlay", 78, 223, 36, 34, true);
  btnPause = MakeButton("btnPause", 114, 223, 41, 34, true);
  btnStop = MakeButton("btnStop", 155, 223, 39, 34, false);
  btnStartConvert = MakeButton("btnStartConvert", 32, 303, 210, 40, false);
  btnPauseConvert = MakeButton("btnPauseConvert", 32, 296, 210, 40, false);
  btnResumeConvert = MakeButton("btnResumeConvert", 32, 288, 210, 40, false);
  for (TMBButton* b : {btnStartConvert, btnPauseConvert, btnResumeConvert})
    b->SetTransparent(false);
  btnAddSub->setEnabled(false);
  btnSubOn->hide();
  btnHi->SetDown(true);
  btnPauseConvert->hide();
  btnResumeConvert->hide();
  btnPlay->setEnabled(false);
  btnPause->setEnabled(false);
  btnStop->setEnabled(false);
  btnStartConvert->setEnabled(false);
  FStateButtons.Buttons = {btnAdd,  btnAddSub, btnStartConvert, btnPauseConvert, btnResumeConvert,
                           btnPlay, btnPause,  btnStop,         btnSubOn};
  FStateButtons.Hi = btnHi;
  FStateButtons.Lo = btnLo;

  LProgress = new QLabel(this);
  LProgress->setObjectName(QStringLiteral("LProgress"));
  Place(LProgress, 37, 264, 76, 13);
  QFont bold = font();
  bold.setBold(true);
  LProgress->setFont(bold);
  QPalette lp = LProgress->palette();
  lp.setColor(QPalette::WindowText, QColor(0xC0, 0xC0, 0xC0));  // silver
  LProgress->setPalette(lp);
  LProgress->setAttribute(Qt::WA_TranslucentBackground);
  LProgress->setAttribute(Qt::WA_TransparentForMouseEvents);

  ImageProgress = new TProgressImage(this);
  ImageProgress->setObjectName(QStringLiteral("ImageProgress"));
  Place(ImageProgress, 36, 282, 202, 12);
  ImageProgress->SetPatterns(ImgT->Picture(), ImgN->Picture());

  mmoLog = new QPlainTextEdit(this);
  mmoLog->setObjectName(QStringLiteral("mmoLog"));
  Place(mmoLog, 280, 32, 164, 169);
  mmoLog->setReadOnly(true);
  mmoLog->setMaximumBlockCount(kLogLines);
  mmoLog->hide();

  grpLogLevel = new QGroupBox(QStringLiteral("Log Level"), this);
  grpLogLevel->setObjectName(QStringLiteral("grpLogLevel"));
  Place(grpLogLevel, 282, 207, 160, 98);
  grpLogLevelItems = new QButtonGroup(grpLogLevel);
  auto* grid = new QGridLayout(grpLogLevel);
  grid->setContentsMargins(4, 4, 4, 4);
  grid->setSpacing(0);
  for (int i = 0; i < 8; ++i) {
    auto* item = new QRadioButton(QLatin1String(kLogLevelNames[i]), grpLogLevel);
    grpLogLevelItems->addButton(item, i);
    grid->addWidget(item, i / 3, i % 3);
  }
  grpLogLevelItems->button(media::llInfo)->setChecked(true);
  grpLogLevel->hide();

  // Stacking: the background at the back, the pictures and the buttons above it.
  Panel1->lower();
  for (TMBButton* b : FStateButtons.Buttons) b->raise();
}

void TfrmMain::ConnectComponents() {
  const auto connect_click = [this](TMBButton* b, void (TfrmMain::*handler)()) {
    b->SetOnClick(
        [this, handler](TMBButton*) { Guarded([this, handler] { (this->*handler)(); }); });
  };
  btnAdd->SetOnClick(
      [this](TMBButton* sender) { Guarded([this, sender] { btnAddClick(sender); }); });
  connect_click(btnAddSub, &TfrmMain::btnAddSubClick);
  connect_click(btnSubOn, &TfrmMain::btnSubOnClick);
  connect_click(btnHi, &TfrmMain::btnHiClick);
  connect_click(btnLo, &TfrmMain::btnLoClick);
  connect_click(btnInfo, &TfrmMain::btnInfoClick);
  connect_click(btnMinimize, &TfrmMain::btnMinimizeClick);
  connect_click(btnClose, &TfrmMain::btnCloseClick);
  connect_click(btnPlay, &TfrmMain::btnPlayClick);
  connect_click(btnPause, &TfrmMain::btnPauseClick);
  connect_click(btnStop, &TfrmMain::btnStopClick);
  connect_click(btnStartConvert, &TfrmMain::btnStartConvertClick);
  connect_click(btnPauseConvert, &TfrmMain::btnPauseConvertClick);
  connect_click(btnResumeConvert, &TfrmMain::btnResumeConvertClick);

  const auto drag_down = [this](TImageControl* sender, QMouseEvent* e) {
    FormMouseDown(sender, e->button(), e->position().toPoint());
  };
  const auto drag_move = [this](TImageControl* sender, QMouseEvent* e) {
    FormMouseMove(sender, e->buttons(), e->modifiers(), e->position().toPoint());
  };
  for (TImageControl* c : {ImageBgn, Image1}) {
    c->SetOnMouseDown(drag_down);
    c->SetOnMouseMove(drag_move);
  }
  for (TImageControl* c : {ImageInfoEn, ImageInfoPL})
    c->SetOnClick([this](TImageControl*) { Guarded([this] { ImageInfoEnClick(); }); });
  ImageProgress->SetOnMouseDown(
      [this](TProgressImage*, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
        Guarded([&] { ImageProgressMouseDown(button, shift, x, y); });
      });

  FFLogger.SetOnLog([this](runtime::TObject* sender, uint32_t tid, media::TLogLevel level,
                           const std::string& msg) { FFLoggerLog(sender, tid, level, msg); });

  Zentrov.SetPreviewBitmap(true);
  Zentrov.SetOnPreviewBitmap([this](runtime::TObject* sender, const encoder::TPreviewInfo& info) {
    ZentrovPreviewBitmap(sender, info);
  });
  Zentrov.SetOnProgress([this](runtime::TObject* sender, encoder::PProgressInfo info) {
    ZentrovProgress(sender, info);
  });
  // Only frames that show a subtitle are touched, only where it goes: the conversion lays the
  // ready subtitle on itself where it can, else hands over a bitmap of just that part.
  Zentrov.SetOnVideoInputHookQuery([this](runtime::TObject*, int32_t, int32_t width, int32_t height,
                                          int32_t number, int64_t pts, bool& stop) {
    const runtime::TRect area = FSubtitleHook.Prepare(width, height, pts, number, stop);
    return runtime::TDrawArea(area, FSubtitleHook.PreparedOverlay());
  });
  Zentrov.SetOnVideoInputHook([this](runtime::TObject* sender, encoder::PHookInfo info) {
    ZentrovCustomHook(sender, info);
  });
  Zentrov.SetOnVideoOutputHook([this](runtime::TObject* sender, encoder::PHookInfo info) {
    ZentrovCustomHook(sender, info);
  });
  Zentrov.SetOnTerminate(
      [this](runtime::TObject*, const encoder::TTerminateInfo& info) { PostTermination(info); });

  FFPlayer.SetOnFileOpen([this](runtime::TObject* sender, int64_t duration, int w, int h, int& sw,
                                int& sh) { FFPlayerFileOpen(sender, duration, w, h, sw, sh); });
  FFPlayer.SetOnPosition(
      [this](runtime::TObject* sender, int64_t pts) { FFPlayerPosition(sender, pts); });

  TimerStat.setInterval(kStatIntervalMs);
  QObject::connect(&TimerStat, &QTimer::timeout, this,
                   [this] { Guarded([this] { TimerStatTimer(); }); });
  TimerCheckVersion.setInterval(kCheckVersionDelayMs);
  TimerCheckVersion.setSingleShot(true);
  QObject::connect(&TimerCheckVersion, &QTimer::timeout, this,
                   [this] { Guarded([this] { TimerCheckVersionTimer(); }); });
  TimerCheckVersion.start();
}

void TfrmMain::FormCreate() {
  if (qApp) qApp->setApplicationDisplayName(QLatin1String(kApplicationTitle));
  setWindowTitle(QLatin1String(kWindowCaption));
  FVersion = QLatin1String(profile::kProgramVersion);
  OpenDialog1.setFileMode(QFileDialog::ExistingFile);
  OpenDialog1.setOption(QFileDialog::DontUseNativeDialog);  // patterns match in any letter case
  OpenDialog1.setSizeGripEnabled(true);
  OpenDialog1.setNameFilters(DialogNameFilters(QLatin1String(kVideoFilter)));
  OpenTXT.setWindowTitle(QString::fromUtf8(kSubtitleDialogTitle));
  OpenTXT.setFileMode(QFileDialog::ExistingFile);
  OpenTXT.setOption(QFileDialog::DontUseNativeDialog);
  OpenTXT.setDefaultSuffix(QString::fromLatin1(kSubtitleDefaultExt).section(u';', 0, 0).mid(2));
  OpenTXT.setNameFilters(DialogNameFilters(QString::fromUtf8(kSubtitleFilter)));
  FPreviewMode = 1;
  FProgressPrefix = QString::fromUtf8(runtime::IsPolishLocale() ? kPrefixPolish : kPrefixEnglish);
  SetProgressText(FProgressPrefix + QStringLiteral("0%"));
  FormResize();
  // Centred on the screen at start.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

void TfrmMain::FormResize() {
  const QSize bgn = BackgroundSize();
  if (minimumSize() != bgn || maximumSize() != bgn) setFixedSize(bgn);
  ImageBgn->SetStretch(false);
  const QRegion shape = skin::WindowShape();
  if (mask() != shape) setMask(shape);
}

void TfrmMain::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormResize();
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

// ---- Dragging the window by its background and its preview picture

void TfrmMain::FormMouseDown(QWidget*, Qt::MouseButton button, QPoint at) {
  if (button != Qt::LeftButton) return;
  FDragging = true;
  FSystemMove = false;
  FDownPoint = at;
}

void TfrmMain::FormMouseMove(QWidget*, Qt::MouseButtons buttons, Qt::KeyboardModifiers shift,
                             QPoint at) {
  if (!FDragging || buttons != Qt::LeftButton || shift != Qt::NoModifier) {
    FDragging = false;
    return;
  }
  // A Wayland client cannot place its own window: the compositor moves it.
  if (QGuiApplication::platformName() == QLatin1String("wayland")) {
    if (!FSystemMove && windowHandle()) FSystemMove = windowHandle()->startSystemMove();
    return;
  }
  move(x() + at.x() - FDownPoint.x(), y() + at.y() - FDownPoint.y());
}

void TfrmMain::mousePressEvent(QMouseEvent* event) {
  FormMouseDown(this, event->button(), event->position().toPoint());
}

void TfrmMain::mouseMoveEvent(QMouseEvent* event) {
  FormMouseMove(this, event->buttons(), event->modifiers(), event->position().toPoint());
}

// ---- Closing

void TfrmMain::DetachEncoderHandlers() {
  Zentrov.SetOnPreviewBitmap(nullptr);
  Zentrov.SetOnVideoInputHookQuery(nullptr);
  Zentrov.SetOnVideoInputHook(nullptr);
  Zentrov.SetOnVideoOutputHook(nullptr);
  Zentrov.SetOnProgress(nullptr);
  Zentrov.SetOnTerminate(nullptr);
}

void TfrmMain::FormCloseQuery() {
  DetachEncoderHandlers();
  Zentrov.Stop(true);  // serves the main-thread queue while it waits
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  FCheckVersion.Abort();  // quitting does not wait for the update server
  StopSubtitleTrackRead();
  Guarded([this] { FormCloseQuery(); });
  event->accept();  // closing is always allowed
}

// ---- Dropping files

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (mime->hasUrls() && !mime->urls().isEmpty() && mime->urls().first().isLocalFile())
    event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
  QStringList files;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  event->acceptProposedAction();
  Guarded([&] { WMDropFiles(files); });
}

void TfrmMain::WMDropFiles(const QStringList& files) {
  if (files.isEmpty()) return;
  const QString& first = files.first();
  if (subtitles::IsSubtitleFileName(first)) {
    if (btnAddSub->isEnabled()) LoadSubtitles(first);
    return;
  }
  if (!runtime::FileExists(first.toStdString())) return;
  if (files.size() == 1 && btnAdd->isEnabled()) AddFile(first);
}

// ---- Add file

void TfrmMain::btnAddClick(TMBButton* Sender) {
  if (!Zentrov.AVLibLoaded() && !Zentrov.LoadAVLib(runtime::ProgramDir() + "LibAV")) {
    mmoLog->appendPlainText(QString::fromStdString(Zentrov.LastErrMsg()));
    return;
  }
  Zentrov.ClearTasks();
  StopSubtitleTrackRead();             // the cues of the previous video are not wanted any more
  btnStartConvert->setEnabled(false);  // Start never runs on an empty task list
  if (Sender) {
    if (OpenDialog1.exec() != QDialog::Accepted || OpenDialog1.selectedFiles().isEmpty()) return;
    FVideoFileName = OpenDialog1.selectedFiles().first();
  }
  FFLogger.SetLogLevel(SelectedLogLevel());

  decoder::TFFDecoder& probe = *Zentrov.Decoder();
  if (!probe.LoadFile(FVideoFileName.toStdString())) {
    LogMessage(kMsgFileLoadError + QString::fromStdString(probe.LastErrMsg()));
    return;
  }
  struct CloseProbe {
    decoder::TFFDecoder& d;
    ~CloseProbe() { d.CloseFile(); }
  } close_probe{probe};

  // Frame-numbered subtitle files are timed with the frame rate of stream 0 (1.0 when stream 0
  // is not a video stream).
  const decoder::TVideoStreamInfo stream0 = probe.ReadVideoStreamInfo(0);
  const double fps = stream0.FrameRate.den != 0
                         ? double(stream0.FrameRate.num) / stream0.FrameRate.den
                         : 1.0;  // the record's defaults (-1/-1) also give 1.0
  FOptions->SetFrameRate(fps > 0 ? fps : 1.0);

  FOptions->SetSourceDecoder(&probe);
  encoder::TOutputOptions out;
  encoder::TInputOptions in;
  FOptions->BuildOutputOptions(out);
  FOptions->BuildInputOptions(in);
  AddConvertTask(in, out);

  if (!FFPlayer.AVLibLoaded() && !FFPlayer.LoadAVLib(runtime::ProgramDir() + "LibAV"))
    mmoLog->appendPlainText(QString::fromStdString(FFPlayer.LastErrMsg()));
  Panel->show();
  Image1->SetPicture({});  // the player's picture shows through until a conversion's frames come
  if (FFPlayer.Open(FVideoFileName.toStdString(), Panel, false)) {
    ProgressBar(1);
    ImageProgress->SetTag(0);
    ImageProgress->setCursor(Qt::PointingHandCursor);
    btnAddSub->setEnabled(true);
    if (btnHi->Down())
      btnLo->setEnabled(false);
    else
      btnHi->setEnabled(false);
  } else {
    mmoLog->appendPlainText(QString::fromStdString(FFPlayer.LastErrMsg()));
  }

  // A subtitle file beside the video is loaded as if the user had added it; without one, the
  // video's own subtitle track in the user's language.
  if (FOptions->Settings().CLoadTXT && btnAddSub->isEnabled()) {
    const QString beside = subtitles::FindSubtitleBeside(FVideoFileName);
    if (!beside.isEmpty())
      LoadSubtitles(beside);
    else
      StartSubtitleTrackRead(probe);
  }
}

void TfrmMain::AddFile(const QString& file) {
  FVideoFileName = file;
  OpenDialog1.selectFile(file);
  btnAddClick(nullptr);
}

void TfrmMain::AddConvertTask(encoder::TInputOptions& in, encoder::TOutputOptions& out) {
  const int task = Zentrov.AddTask(in.FileName, &in);
  if (task < 0) {
    LogMessage(kMsgFileOpenError + QString::fromStdString(Zentrov.LastErrMsg()));
    return;
  }
  if (Zentrov.SetOutputFile(task, out.FileName, &out)) {
    FOutputFileName = QString::fromStdString(out.FileName);
    LogMessage(QLatin1String(kMsgFileAdded));
    ApplyState(TWindowState::wsFileLoaded);
    return;
  }
  Zentrov.RemoveTask(task);
  LogMessage(kMsgCannotConvert + QString::fromStdString(Zentrov.LastErrMsg()));
}

// ---- Subtitles

void TfrmMain::btnAddSubClick() {
  if (OpenTXT.exec() != QDialog::Accepted || OpenTXT.selectedFiles().isEmpty()) return;
  LoadSubtitles(OpenTXT.selectedFiles().first());
}

void TfrmMain::LoadSubtitles(const QString& file) {
  StopSubtitleTrackRead();  // a file always wins over the video's own track
  FSubtitleFileName = file;
  OpenTXT.selectFile(file);
  const subtitles::TLoadTXTResult r = FOptions->LoadTXT(file);
  if (r.Loaded) {
    btnSubOn->show();
    btnSubOn->SetDown(true);
    LogMessage(kMsgSubtitlesLoaded + file);
  }
  if (!r.Error.isEmpty()) {
    LogMessage(QStringLiteral("***") + r.Error);
    QMessageBox::warning(this, QLatin1String(kApplicationTitle), r.Error);
  }
}

void TfrmMain::StartSubtitleTrackRead(decoder::TCustomDecoder& probe) {
  const profile::TTrackChoice choice =
      profile::ChooseSubtitleTrack(probe, {}, runtime::UserLanguage());
  if (choice.StreamIndex < 0) return;
  const uint64_t id = ++FTrackReadId;
  const int stream = choice.StreamIndex;
  // The worker leaves its result in the mailbox and wakes the GUI thread as a termination does.
  // The window waits for the worker before it goes, so `this` is alive whenever the worker posts.
  FTrackRead = std::make_unique<subtitles::TEmbeddedSubtitleRead>(
      FVideoFileName.toStdString(), stream, FOptions->FrameRate(),
      [this, id, stream](subtitles::TEmbeddedSubtitles result) {
        {
          std::lock_guard lock(FTrackResultsLock);
          FTrackResults.push_back({id, stream, std::move(result)});
        }
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
      });
  btnStartConvert->setEnabled(false);  // the conversion burns in the cues, so it waits for them
}

void TfrmMain::StopSubtitleTrackRead() {
  if (!FTrackRead) return;
  FTrackRead.reset();
  btnStartConvert->setEnabled(Zentrov.TasksCount() > 0);
}

bool TfrmMain::SubtitleTrackResultWaiting() {
  std::lock_guard lock(FTrackResultsLock);
  return !FTrackResults.empty();
}

void TfrmMain::DeliverSubtitleTracks() {
  std::deque<TTrackResult> arrived;
  {
    std::lock_guard lock(FTrackResultsLock);
    arrived.swap(FTrackResults);
  }
  for (TTrackResult& r : arrived) Guarded([&] { SubtitleTrackRead(r.Id, r.Stream, r.Subtitles); });
}

void TfrmMain::SubtitleTrackRead(uint64_t id, int stream, subtitles::TEmbeddedSubtitles& result) {
  if (!FTrackRead || id != FTrackReadId) return;  // given up: another video or a file came
  StopSubtitleTrackRead();                        // the worker has finished: this only joins it
  if (!result.Error.isEmpty()) {
    LogMessage(QStringLiteral("***") + result.Error);
    return;
  }
  if (result.Result.Loaded) {
    FOptions->LoadTimetable(std::move(result.Timetable), result.Result);
    btnSubOn->show();
    btnSubOn->SetDown(true);
    LogMessage(kMsgSubtitlesLoaded + QStringLiteral("stream #%1 of ").arg(stream) + FVideoFileName);
  }
  if (!result.Result.Error.isEmpty()) LogMessage(QStringLiteral("***") + result.Result.Error);
}

void TfrmMain::btnSubOnClick() {
  FSubtitleHook.SetSubtitlesOn(!btnSubOn->isHidden() && btnSubOn->Down());
}

// ---- Converting

void TfrmMain::btnStartConvertClick() {
  FStatistics.Clear();
  SetProgressText(FProgressPrefix + QStringLiteral("0%"));
  ImageProgress->setCursor(Qt::ArrowCursor);
  FPreviewMode = 0;
  FFPlayer.Stop(true);
  FFLogger.SetLogLevel(SelectedLogLevel());
  Zentrov.SetThreadPriority(engine::tpNormal);
  ApplyState(TWindowState::wsConverting);
  FSubtitleHook.StartConversion(FOptions->TimeTXTEditor(), FOptions->Settings(),
                                FOptions->FrameRate());
  FSubtitleHook.SetSubtitlesOn(!btnSubOn->isHidden() && btnSubOn->Down());
  ProgressBar(1);
  btnPauseConvert->move(btnPauseConvert->x(), 303);
  btnResumeConvert->move(btnResumeConvert->x(), 303);
  TimerStat.start();
  Zentrov.Start(1);
}

void TfrmMain::btnPauseConvertClick() {
  ApplyState(TWindowState::wsPaused);
  TimerStat.stop();
  Zentrov.Pause();
}

void TfrmMain::btnResumeConvertClick() {
  ApplyState(TWindowState::wsConverting);
  TimerStat.start();
  Zentrov.Resume();
}

void TfrmMain::PostTermination(const encoder::TTerminateInfo& info) {
  {
    std::lock_guard lock(FTerminationsLock);
    FTerminations.push_back(info);
  }
  // The event carries nothing: the record travels through the mailbox, under its lock. An
  // event whose window has gone is dropped with it.
  QCoreApplication::postEvent(this, new QEvent(QEvent::User));
}

void TfrmMain::customEvent(QEvent*) {
  // Every wake-up looks into both mailboxes: the event itself carries nothing.
  DeliverTerminations();
  DeliverSubtitleTracks();
}

void TfrmMain::DeliverTerminations() {
  std::deque<encoder::TTerminateInfo> arrived;
  {
    std::lock_guard lock(FTerminationsLock);
    arrived.swap(FTerminations);
  }
  for (const encoder::TTerminateInfo& info : arrived)
    Guarded([&] { ZentrovTerminate(nullptr, info); });
}

void TfrmMain::ZentrovCustomHook(runtime::TObject*, encoder::PHookInfo AHookInfo) {
  AHookInfo->Update = FSubtitleHook.Process(*AHookInfo->Bitmap, AHookInfo->PTS,
                                            AHookInfo->FrameNumber, AHookInfo->StopHook);
}

void TfrmMain::ZentrovTerminate(runtime::TObject*, const encoder::TTerminateInfo& ATerminateInfo) {
  if (ATerminateInfo.TaskIndex < 0) return;  // the final event of a run
  FFinishNotifier.ConversionEnded(*this, ATerminateInfo, FOutputFileName);
  if (ATerminateInfo.Finished) {
    SetProgressText(FProgressPrefix + QStringLiteral("100%"));
    ProgressBar(ImageProgress->width());
    ApplyState(TWindowState::wsFinished);
  } else {
    // An error or a stop: back to a look where the next file can be added; the text and the
    // bar keep what was reached.
    ApplyState(TWindowState::wsStopped);
  }
  if (ATerminateInfo.Exception) {
    QMessageBox box(QMessageBox::Warning, QLatin1String(kApplicationTitle),
                    QString::fromStdString(ATerminateInfo.ExceptionMsg), QMessageBox::Ok, this);
    box.exec();
  }
}

// ---- The player buttons: the player in preview mode, else the encoder

void TfrmMain::btnPlayClick() {
  btnPause->setEnabled(true);
  btnPause->SetDown(false);
  btnPlay->setEnabled(true);
  btnPlay->SetDown(true);
  if (FPreviewMode == 1) {
    btnStop->setEnabled(true);
    FFPlayer.Resume();
  } else {
    Zentrov.Resume();
  }
}

void TfrmMain::btnPauseClick() {
  btnPause->setEnabled(true);
  btnPause->SetDown(true);
  btnPlay->setEnabled(true);
  btnPlay->SetDown(false);
  if (FPreviewMode == 1)
    FFPlayer.Pause();
  else
    Zentrov.Pause();
}

void TfrmMain::btnStopClick() {
  btnStop->setEnabled(false);
  if (FPreviewMode != 1) {
    Zentrov.Stop(true);
    return;
  }
  FFPlayer.Seek(int64_t{1}, 0, false);
  runtime::ProcessPendingMessages();
  FFPlayer.Pause();
  btnPlay->setEnabled(true);
  btnPause->setEnabled(false);
  btnPlay->SetDown(false);
  btnPause->SetDown(false);
}

// ---- Information, minimise, close, quality

void TfrmMain::btnInfoClick() {
  TImageControl* info = runtime::IsPolishLocale() ? ImageInfoPL : ImageInfoEn;
  if (btnInfo->Down()) {
    info->move(25, info->y());
    Panel->hide();
    info->show();
    info->raise();
  } else {
    ImageInfoEn->hide();
    ImageInfoPL->hide();
    Panel->show();
  }
}

void TfrmMain::btnMinimizeClick() {
  showMinimized();
}

void TfrmMain::btnCloseClick() {
  close();
}

void TfrmMain::btnHiClick() {
  if (!btnLo->isEnabled()) btnHi->SetDown(true);
  btnLo->SetDown(!btnHi->Down());
}

void TfrmMain::btnLoClick() {
  if (!btnHi->isEnabled()) btnLo->SetDown(true);
  btnHi->SetDown(!btnLo->Down());
}

void TfrmMain::TimerCheckVersionTimer() {
  if (FOnCheckVersion) FOnCheckVersion();
}

void TfrmMain::ImageInfoEnClick() {
  if (FOnImageInfoClick) FOnImageInfoClick();
}

// ---- Log

void TfrmMain::FFLoggerLog(runtime::TObject*, uint32_t AThreadID, media::TLogLevel ALogLevel,
                           const std::string& ALogMsg) {
  mmoLog->appendPlainText(QStringLiteral("#%1.%2: %3")
                              .arg(AThreadID)
                              .arg(int(ALogLevel))
                              .arg(QString::fromStdString(ALogMsg)));
}

void TfrmMain::LogMessage(const QString& text) {
  mmoLog->appendPlainText(QString());
  mmoLog->appendPlainText(text);
  mmoLog->appendPlainText(QString());
}

media::TLogLevel TfrmMain::SelectedLogLevel() const {
  const int i = grpLogLevelItems->checkedId();
  return i < 0 ? media::llInfo : media::TLogLevel(i);
}

// ---- Helpers

void TfrmMain::ApplyState(TWindowState state) {
  const TStateRow& row = StateRow(state);
  app::ApplyState(row, FStateButtons);
  if (row.PreviewMode) FPreviewMode = *row.PreviewMode;
}

void TfrmMain::SetProgressText(const QString& text) {
  LProgress->setText(text);
  LProgress->adjustSize();
}

void TfrmMain::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    LogMessage(QStringLiteral("***") + QString::fromUtf8(e.what()));
  } catch (...) {
    LogMessage(QStringLiteral("***Unexpected error"));
  }
}

}  // namespace trelvix::app
