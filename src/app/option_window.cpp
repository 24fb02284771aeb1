#include "app/option_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "app/main_window.h"
#include "app/widgets/mb_button.h"
#include "subtitles/subtitle_constants.h"

namespace trelvix::app {
namespace {

constexpr char kFolderDialogTitle[] = "Wybierz Domyślny Katalog z Napisami";
constexpr char kIQExplanation[] =
    "Inteligentne napisy pokazują każdy napis tak długo, jak trzeba, by go przeczytać: czas "
    "zależy od długości tekstu i od tego, jak szybko czytasz. Napisy, które przyszłyby za "
    "wcześnie, czekają w kolejce, aż poprzedni zniknie.";

QColor ToQColor(runtime::TColor c) {  // blue-green-red order
  return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

// The colour sample: an ellipse filled with the text colour, its pen as wide as the outline.
class TColorSample : public QWidget {
 public:
  using QWidget::QWidget;
  void Set(const QColor& fill, int pen) {
    FFill = fill;
    FPen = pen;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, FPen));
    p.setBrush(FFill);
    const int inset = FPen / 2 + 1;
    p.drawEllipse(rect().adjusted(inset, inset, -inset, -inset));
  }

 private:
  QColor FFill = Qt::white;
  int FPen = 4;
};

QDoubleSpinBox* Spin(double lo, double hi, int decimals = 0) {
  auto* s = new QDoubleSpinBox;
  s->setRange(lo, hi);
  s->setDecimals(decimals);
  return s;
}

QString Utf8(const char* s) {
  return QString::fromUtf8(s);
}

}  // namespace

TfrmOption::TfrmOption(std::function<bool()> hi_down, QWidget* parent)
    : QWidget(parent, Qt::Window), FHiDown(std::move(hi_down)) {
  setObjectName(QStringLiteral("frmOption"));
  setWindowTitle(QLatin1String(kOptionsCaption));
  auto* layout = new QVBoxLayout(this);
  Tabs = new QTabWidget(this);
  layout->addWidget(Tabs);
  Tabs->addTab(MakeSubtitlesTab(), QStringLiteral("Napisy"));
  Tabs->addTab(MakeIQTextTab(), QStringLiteral("IQText"));
  Tabs->addTab(MakeEditorTab(), QStringLiteral("Editor"));
  ModelToControls();
  TimetableToEditor();
  ConnectControls();
}

TfrmOption::~TfrmOption() = default;

QWidget* TfrmOption::MakeSubtitlesTab() {
  auto* tab = new QWidget;
  auto* v = new QVBoxLayout(tab);

  auto* font_group = new QGroupBox(QStringLiteral("Czcionka"));
  auto* fg = new QGridLayout(font_group);
  EFontName = new QLineEdit;
  EFontSize = Spin(subtitles::TSubtitleSettings::kEFontSizeMin,
                   subtitles::TSubtitleSettings::kEFontSizeMax);
  EObwodka =
      Spin(subtitles::TSubtitleSettings::kEObwodkaMin, subtitles::TSubtitleSettings::kEObwodkaMax);
  auto* sample = new TColorSample;
  sample->setFixedSize(40, 40);
  WzorKolor = sample;
  fg->addWidget(new QLabel(QStringLiteral("Nazwa czcionki:")), 0, 0);
  fg->addWidget(EFontName, 0, 1);
  fg->addWidget(new QPushButton(Utf8("Zmień")), 0, 2);  // not connected to any action
  fg->addWidget(new QLabel(QStringLiteral("Rozmiar czcionki:")), 1, 0);
  fg->addWidget(EFontSize, 1, 1);
  fg->addWidget(WzorKolor, 1, 2);
  fg->addWidget(new QPushButton(Utf8("Zmień kolor")), 1, 3);  // not connected to any action
  fg->addWidget(new QLabel(Utf8("Szerokość obwódki dookoła napisu:")), 2, 0);
  fg->addWidget(EObwodka, 2, 1);
  auto* example = new QGroupBox(Utf8("Przykład Czcionki"));
  auto* eg = new QVBoxLayout(example);
  PanelWzor = new QLabel(QStringLiteral("- Quendal is The Best"));
  PanelWzor->setAlignment(Qt::AlignCenter);
  PanelWzor->setAutoFillBackground(true);
  PanelWzor->setMinimumHeight(48);
  eg->addWidget(PanelWzor);
  fg->addWidget(example, 3, 0, 1, 4);
  v->addWidget(font_group);

  auto* more = new QGroupBox(Utf8("Dodatkowe Opcje"));
  auto* mg = new QGridLayout(more);
  CSubFontAutoHeight = new QCheckBox(Utf8("Automatyczna wielkość czcionki"));
  FontVol =
      Spin(subtitles::TSubtitleSettings::kFontVolMin, subtitles::TSubtitleSettings::kFontVolMax);
  NapisyCzas = Spin(subtitles::TSubtitleSettings::kNapisyCzasMin,
                    subtitles::TSubtitleSettings::kNapisyCzasMax, 1);
  NapisBottom = Spin(subtitles::TSubtitleSettings::kNapisBottomMin,
                     subtitles::TSubtitleSettings::kNapisBottomMax, 1);
  FWidth = Spin(subtitles::TSubtitleSettings::kFWidthMin, subtitles::TSubtitleSettings::kFWidthMax);
  mg->addWidget(CSubFontAutoHeight, 0, 0);
  mg->addWidget(FontVol, 0, 1);
  mg->addWidget(new QLabel(Utf8("% wysokość okna")), 0, 2);
  mg->addWidget(new QLabel(Utf8("Czas wyświetlania napisów na ekranie (w sekundach): ")), 1, 0);
  mg->addWidget(NapisyCzas, 1, 1);
  mg->addWidget(new QLabel(Utf8("Odległość napisów od dolnej krawędzi (w procentach)")), 2, 0);
  mg->addWidget(NapisBottom, 2, 1);
  mg->addWidget(new QLabel(Utf8("Maksymalna szerokość napisów na ekranie")), 3, 0);
  mg->addWidget(FWidth, 3, 1);
  auto* types = new QGroupBox(Utf8("Typ Napisów"));
  auto* tg = new QGridLayout(types);
  GSubFontType = new QButtonGroup(types);
  for (int i = 0; i < 4; ++i) {
    auto* r = new QRadioButton(Utf8(subtitles::kSubtitleTypeNames[i]));
    GSubFontType->addButton(r, i);
    tg->addWidget(r, i / 2, i % 2);  // two columns
  }
  mg->addWidget(types, 4, 0, 1, 3);
  v->addWidget(more);
  return tab;
}

QWidget* TfrmOption::MakeIQTextTab() {
  auto* tab = new QWidget;
  auto* v = new QVBoxLayout(tab);
  auto* text = new QLabel(Utf8(kIQExplanation));
  text->setWordWrap(true);
  v->addWidget(text);
  CIQText = new QCheckBox(Utf8("Inteligentne Napisy (chcę zdążyć przeczytać wszystkie) !!!"));
  QFont bold = CIQText->font();
  bold.setBold(true);
  CIQText->setFont(bold);
  CIQText->setStyleSheet(QStringLiteral("color: red"));
  v->addWidget(CIQText);

  auto* speed = new QGroupBox(QStringLiteral("Jak szybko czytasz?"));
  auto* sg = new QGridLayout(speed);
  IQTime = new QSlider(Qt::Horizontal);
  IQTime->setRange(subtitles::TSubtitleSettings::kIQTimeMin,
                   subtitles::TSubtitleSettings::kIQTimeMax);
  IQTime->setSingleStep(subtitles::TSubtitleSettings::kIQTimeStep);
  IQTime->setPageStep(subtitles::TSubtitleSettings::kIQTimeStep);
  IQTime->setTickInterval(subtitles::TSubtitleSettings::kIQTimeStep);
  IQTime->setTickPosition(QSlider::TicksBelow);
  sg->addWidget(IQTime, 0, 0, 1, 3);
  sg->addWidget(new QLabel(QStringLiteral("Szybko")), 1, 0, Qt::AlignLeft);
  sg->addWidget(new QLabel(QStringLiteral("Normalnie")), 1, 1, Qt::AlignHCenter);
  sg->addWidget(new QLabel(QStringLiteral("Wolno")), 1, 2, Qt::AlignRight);
  v->addWidget(speed);

  auto* more = new QGroupBox(Utf8("Dodatkowe opcje IQ Napisów"));
  auto* mg = new QVBoxLayout(more);
  CIQDziel = new QCheckBox(Utf8("Dziel linie, które się nie mieszczą"));
  CIQZmniejsz = new QCheckBox(Utf8("Zmniejszaj czcionkę, gdy linia się nie mieści"));
  CIQLoadTXT = new QCheckBox(Utf8("Wczytuj napisy automatycznie"));
  CIQAllTXTToMenu = new QCheckBox(Utf8("Dodaj wszystkie napisy z katalogu do menu"));
  DirectoryTXT = new QLineEdit;
  auto* browse = new QPushButton(QStringLiteral("..."));
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString dir =
        QFileDialog::getExistingDirectory(this, Utf8(kFolderDialogTitle), DirectoryTXT->text());
    if (!dir.isEmpty()) DirectoryTXT->setText(dir);
  });
  auto* dir_row = new QHBoxLayout;
  dir_row->addWidget(new QLabel(Utf8("Domyślny katalog z napisami:")));
  dir_row->addWidget(DirectoryTXT);
  dir_row->addWidget(browse);
  mg->addWidget(CIQDziel);
  mg->addWidget(CIQZmniejsz);
  mg->addWidget(CIQLoadTXT);
  mg->addLayout(dir_row);
  mg->addWidget(CIQAllTXTToMenu);
  v->addWidget(more);
  v->addStretch();
  return tab;
}

QWidget* TfrmOption::MakeEditorTab() {
  auto* tab = new QWidget;
  auto* v = new QVBoxLayout(tab);
  TimeTXTEditorView = new QTableWidget(0, 2);
  TimeTXTEditorView->setHorizontalHeaderLabels(
      {QLatin1String(subtitles::kColumnTime), QLatin1String(subtitles::kColumnText)});
  TimeTXTEditorView->horizontalHeader()->setStretchLastSection(true);
  v->addWidget(TimeTXTEditorView);
  auto* buttons = new QHBoxLayout;
  auto* add = new QPushButton(QStringLiteral("Dodaj"));
  auto* remove = new QPushButton(Utf8("Usuń"));
  buttons->addWidget(add);
  buttons->addWidget(remove);
  buttons->addStretch();
  v->addLayout(buttons);
  connect(add, &QPushButton::clicked, this, [this] {
    const int at = TimeTXTEditorView->currentRow() < 0 ? FModel.TimeTXTEditor().Count()
                                                       : TimeTXTEditorView->currentRow() + 1;
    FModel.TimeTXTEditor().Insert(at, QStringLiteral("0"), QString());
    TimetableToEditor();
    TimeTXTEditorView->setCurrentCell(at, 0);
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    const int row = TimeTXTEditorView->currentRow();
    if (row < 0 || row >= FModel.TimeTXTEditor().Count()) return;
    FModel.TimeTXTEditor().Delete(row);
    TimetableToEditor();
  });
  Napisy = new QPlainTextEdit;  // the raw line list, hidden
  Napisy->hide();
  v->addWidget(Napisy);
  return tab;
}

void TfrmOption::ConnectControls() {
  using Spin = QDoubleSpinBox;
  const auto spin = [this](Spin* s, void (subtitles::TOptionModel::*set)(double)) {
    connect(s, &Spin::valueChanged, this, [this, set](double v) {
      if (FUpdating) return;
      (FModel.*set)(v);
      UpdateFontPreview();
    });
  };
  spin(EFontSize, &subtitles::TOptionModel::SetEFontSize);
  spin(EObwodka, &subtitles::TOptionModel::SetEObwodka);
  spin(FontVol, &subtitles::TOptionModel::SetFontVol);
  spin(NapisyCzas, &subtitles::TOptionModel::SetNapisyCzas);
  spin(NapisBottom, &subtitles::TOptionModel::SetNapisBottom);
  spin(FWidth, &subtitles::TOptionModel::SetFWidth);
  const auto check = [this](QCheckBox* c, void (subtitles::TOptionModel::*set)(bool)) {
    connect(c, &QCheckBox::toggled, this, [this, set](bool v) {
      if (!FUpdating) (FModel.*set)(v);
    });
  };
  check(CSubFontAutoHeight, &subtitles::TOptionModel::SetFontAutoHeight);
  check(CIQText, &subtitles::TOptionModel::SetIQNapisow);
  check(CIQDziel, &subtitles::TOptionModel::SetIQDziel);
  check(CIQZmniejsz, &subtitles::TOptionModel::SetIQZmniejsz);
  check(CIQLoadTXT, &subtitles::TOptionModel::SetCLoadTXT);
  check(CIQAllTXTToMenu, &subtitles::TOptionModel::SetAllTXTToMenu);
  connect(EFontName, &QLineEdit::textChanged, this, [this](const QString& v) {
    if (FUpdating) return;
    FModel.SetEFontName(v);
  });
  connect(DirectoryTXT, &QLineEdit::textChanged, this, [this](const QString& v) {
    if (!FUpdating) FModel.SetDirectoryTXT(v);
  });
  connect(IQTime, &QSlider::valueChanged, this, [this](int v) {
    if (!FUpdating) FModel.SetIQTime(v);
  });
  connect(GSubFontType, &QButtonGroup::idToggled, this, [this](int id, bool on) {
    if (on && !FUpdating) FModel.SetFontType(id);
  });
  connect(TimeTXTEditorView, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (FUpdating || item->row() >= FModel.TimeTXTEditor().Count()) return;
    if (item->column() == 0)
      FModel.TimeTXTEditor().SetKey(item->row(), item->text());
    else
      FModel.TimeTXTEditor().SetText(item->row(), item->text());
  });
}

void TfrmOption::ModelToControls() {
  FUpdating = true;
  const subtitles::TSubtitleSettings& s = FModel.Settings();
  EFontName->setText(s.EFontName);
  EFontSize->setValue(s.EFontSize);
  EObwodka->setValue(s.EObwodka);
  FontVol->setValue(s.FontVol);
  NapisyCzas->setValue(s.NapisyCzas);
  NapisBottom->setValue(s.NapisBottom);
  FWidth->setValue(s.FWidth);
  CSubFontAutoHeight->setChecked(s.FontAutoHeight);
  CIQText->setChecked(s.IQNapisow);
  CIQDziel->setChecked(s.IQDziel);
  CIQZmniejsz->setChecked(s.IQZmniejsz);
  CIQLoadTXT->setChecked(s.CLoadTXT);
  CIQAllTXTToMenu->setChecked(s.AllTXTToMenu);
  DirectoryTXT->setText(s.DirectoryTXT);
  IQTime->setValue(s.IQTime);
  if (QAbstractButton* b = GSubFontType->button(s.FontType)) b->setChecked(true);
  FUpdating = false;
  UpdateFontPreview();
}

void TfrmOption::UpdateFontPreview() {
  const subtitles::TSubtitleSettings& s = FModel.Settings();
  const runtime::TFont& f = s.PanelWzorFont;
  QFont font(QString::fromStdString(f.Name()));
  font.setPointSize(std::max(1, f.Size()));
  font.setBold(f.Style() & 1);
  font.setItalic(f.Style() & 2);
  font.setUnderline(f.Style() & 4);
  font.setStrikeOut(f.Style() & 8);
  PanelWzor->setFont(font);
  QPalette pal = PanelWzor->palette();
  pal.setColor(QPalette::Window, QColor(0, 0, 0x80));  // navy
  pal.setColor(QPalette::WindowText, ToQColor(s.FontColor));
  PanelWzor->setPalette(pal);
  static_cast<TColorSample*>(WzorKolor)->Set(ToQColor(s.FontColor), s.EObwodkaTag);
}

void TfrmOption::TimetableToEditor() {
  FUpdating = true;
  const subtitles::TSubtitleTimetable& t = FModel.TimeTXTEditor();
  TimeTXTEditorView->setRowCount(t.Count());
  for (int i = 0; i < t.Count(); ++i) {
    TimeTXTEditorView->setItem(i, 0, new QTableWidgetItem(t.Row(i).Key));
    TimeTXTEditorView->setItem(i, 1, new QTableWidgetItem(t.Row(i).Text));
  }
  FUpdating = false;
}

void TfrmOption::FormCreate(runtime::TSettingsStore& store, const QString& program_path,
                            const QStringList& args, TfrmMain& main) {
  subtitles::TStartupActions actions;
  actions.AddEnabled = [&main] { return main.btnAdd->isEnabled(); };
  actions.AddFile = [&main](const QString& file) { main.AddFile(file); };
  actions.AddSubEnabled = [&main] { return main.btnAddSub->isEnabled(); };
  actions.AddSubtitle = [&main](const QString& file) { main.LoadSubtitles(file); };
  actions.ReportError = [](const QString& error) {
    QMessageBox::critical(nullptr, QLatin1String(kApplicationTitle), error);
  };
  FModel.FormCreate(store, program_path, args, actions);
  ModelToControls();
}

void TfrmOption::BuildOutputOptions(encoder::TOutputOptions& out) {
  FProfile.SetQuality(!FHiDown || FHiDown() ? profile::TQuality::Hi : profile::TQuality::Lo);
  FProfile.BuildOutputOptions(out);
}

void TfrmOption::BuildInputOptions(encoder::TInputOptions& in) {
  FProfile.BuildInputOptions(in);
}

subtitles::TLoadTXTResult TfrmOption::LoadTXT(const QString& file_name) {
  const subtitles::TLoadTXTResult r = FModel.LoadTXT(file_name);
  TimetableToEditor();
  return r;
}

void TfrmOption::LoadTimetable(subtitles::TSubtitleTimetable timetable,
                               const subtitles::TLoadTXTResult& loaded) {
  FModel.LoadTimetable(std::move(timetable), loaded);
  TimetableToEditor();
}

}  // namespace trelvix::app
