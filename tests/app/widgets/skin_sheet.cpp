#include "app/widgets/skin_sheet.h"

#include <QFont>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>
#include <map>
#include <memory>

#include "app/widgets/mb_button.h"
#include "app/widgets/skin.h"

namespace trelvix::app::test {

const std::vector<TControlPlace>& ButtonPlaces() {
  static const std::vector<TControlPlace> places = {
      {"btnAdd", {30, 378, 34, 39}},           {"btnAddSub", {68, 378, 35, 39}},
      {"btnSubOn", {98, 390, 14, 12}},         {"btnHi", {83, 352, 20, 15}},
      {"btnLo", {108, 352, 21, 15}},           {"btnInfo", {155, 378, 27, 39}},
      {"btnMinimize", {185, 378, 27, 39}},     {"btnClose", {216, 378, 27, 39}},
      {"btnPlay", {78, 223, 36, 34}},          {"btnPause", {114, 223, 41, 34}},
      {"btnStop", {155, 223, 39, 34}},         {"btnStartConvert", {32, 303, 210, 40}},
      {"btnPauseConvert", {32, 303, 210, 40}}, {"btnResumeConvert", {32, 303, 210, 40}},
  };
  return places;
}

const std::vector<TControlPlace>& OtherVisiblePlaces() {
  static const std::vector<TControlPlace> places = {
      {"LProgress", {37, 264, 76, 13}},
      {"ImageProgress", {36, 282, 202, 12}},
      {"Panel", {25, 96, 223, 128}},
  };
  return places;
}

namespace {

constexpr QRect kPreview(25, 96, 223, 128);
constexpr QRect kBar(36, 282, 202, 12);
constexpr QPoint kInfoAt(25, 96);

// A stand-in video frame: a dusk sky over hills.
QImage SampleFrame(qreal dpr) {
  QImage frame((QSizeF(kPreview.size()) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
  frame.setDevicePixelRatio(dpr);
  QPainter p(&frame);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, kPreview.height());
  sky.setColorAt(0, QColor(38, 62, 122));
  sky.setColorAt(0.65, QColor(238, 138, 92));
  sky.setColorAt(1, QColor(250, 196, 120));
  p.fillRect(QRect(QPoint(), kPreview.size()), sky);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 236, 180));
  p.drawEllipse(QPointF(150, 78), 16, 16);
  p.setBrush(QColor(44, 40, 70));
  QPainterPath far;
  far.moveTo(0, 96);
  far.cubicTo(50, 70, 90, 100, 140, 84);
  far.cubicTo(180, 72, 200, 90, 223, 86);
  far.lineTo(223, 128);
  far.lineTo(0, 128);
  p.drawPath(far);
  p.setBrush(QColor(22, 20, 36));
  QPainterPath near;
  near.moveTo(0, 110);
  near.cubicTo(60, 96, 120, 122, 223, 104);
  near.lineTo(223, 128);
  near.lineTo(0, 128);
  p.drawPath(near);
  return frame;
}

// The window's look in one state, built from the real buttons over the skin's background.
class TMockWindow : public QWidget {
 public:
  struct TState {
    QString progress;
    int bar_column = -1;  // -1: the bar as the window leaves it before anything is loaded
    bool preview = false;
    bool info = false;
    std::map<QString, bool> enabled, down, visible;
  };

  TMockWindow(qreal dpr, const TState& state) : dpr_(dpr), state_(state) {
    setFixedSize(skin::kBackgroundWidth, skin::kBackgroundHeight);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    for (const TControlPlace& place : ButtonPlaces()) {
      auto* button = new TMBButton(this);
      button->setGeometry(place.rect);
      button->SetBorder(false);
      const skin::TGlyphSet glyphs = skin::Glyphs(place.name, dpr);
      button->SetGlyphUp(glyphs.up);
      button->SetGlyphOver(glyphs.over);
      button->SetGlyphDown(glyphs.down);
      button->SetGlyphDisable(glyphs.disabled);
      const bool wide = place.rect.width() == 210;
      button->SetTransparent(!wide);
      const auto value = [&](const std::map<QString, bool>& m, bool fallback) {
        auto it = m.find(place.name);
        return it == m.end() ? fallback : it->second;
      };
      button->setEnabled(value(state.enabled, true));
      button->SetDown(value(state.down, false));
      button->setVisible(value(state.visible, place.name != "btnPauseConvert" &&
                                                  place.name != "btnResumeConvert" &&
                                                  place.name != "btnSubOn"));
    }
    auto* label = new QLabel(state.progress, this);
    label->setGeometry(37, 264, 200, 13);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    font.setBold(true);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: silver; background: transparent"));
    if (state.info) {
      auto* info = new QLabel(this);
      info->setPixmap(QPixmap::fromImage(skin::InfoPicture(false, dpr)));
      info->setGeometry(QRect(kInfoAt, QSize(223, 281)));
      info->raise();
    }
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.drawImage(QPoint(0, 0), skin::Background(dpr_));
    if (state_.preview) p.drawImage(kPreview.topLeft(), SampleFrame(dpr_));
    if (state_.bar_column >= 0) {
      const QImage done = skin::Pattern(QStringLiteral("ImgT"), dpr_);
      const QImage todo = skin::Pattern(QStringLiteral("ImgN"), dpr_);
      p.setBrushOrigin(kBar.topLeft());
      p.fillRect(QRect(kBar.left(), kBar.top(), state_.bar_column, kBar.height()), QBrush(done));
      p.fillRect(QRect(kBar.left() + state_.bar_column + 1, kBar.top(),
                       kBar.width() - state_.bar_column - 1, kBar.height()),
                 QBrush(todo));
    }
  }

 private:
  qreal dpr_;
  TState state_;
};

QImage Render(QWidget& widget, qreal dpr) {
  QImage image((QSizeF(widget.size()) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(dpr);
  image.fill(Qt::transparent);
  widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

void Caption(QPainter& p, QPoint at, const QString& text) {
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(12);
  font.setBold(true);
  p.setFont(font);
  p.setPen(QColor(70, 76, 86));
  p.drawText(at, text);
}

}  // namespace

QImage RenderSkinSheet(qreal dpr) {
  const int margin = 20, gap = 24;
  const QSize size(1370, 1640);
  QImage sheet((QSizeF(size) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
  sheet.setDevicePixelRatio(dpr);
  sheet.fill(QColor(228, 231, 236));
  QPainter p(&sheet);
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);

  // The window in four moments of its life.
  std::vector<std::pair<QString, TMockWindow::TState>> moments;
  {
    TMockWindow::TState start;
    start.progress = QStringLiteral("Progress: 0%");
    for (const char* name : {"btnAddSub", "btnPlay", "btnPause", "btnStop", "btnStartConvert"})
      start.enabled[name] = false;
    start.down["btnHi"] = true;
    moments.emplace_back(QStringLiteral("Start"), start);

    TMockWindow::TState loaded;
    loaded.progress = QStringLiteral("0:00:12/0:42:10");
    loaded.bar_column = 1;
    loaded.preview = true;
    loaded.down["btnHi"] = true;
    loaded.down["btnPlay"] = true;
    loaded.visible["btnSubOn"] = true;
    loaded.down["btnSubOn"] = true;
    moments.emplace_back(QStringLiteral("File and subtitles loaded, playing"), loaded);

    TMockWindow::TState converting;
    converting.progress = QStringLiteral("Progress: 42% (-03:15)");
    converting.bar_column = 84;
    converting.preview = true;
    for (const char* name : {"btnAdd", "btnAddSub", "btnHi", "btnLo", "btnStartConvert"})
      converting.enabled[name] = false;
    converting.down["btnHi"] = true;
    converting.visible["btnStartConvert"] = false;
    converting.visible["btnPauseConvert"] = true;
    moments.emplace_back(QStringLiteral("Converting"), converting);

    TMockWindow::TState info = start;
    info.down["btnInfo"] = true;
    info.info = true;
    moments.emplace_back(QStringLiteral("Information"), info);
  }
  int x = margin;
  for (const auto& [title, state] : moments) {
    Caption(p, QPoint(x, margin + 12), title);
    TMockWindow window(dpr, state);
    // As the desktop shows it: only the window's shape.
    p.save();
    p.setClipRegion(skin::WindowShape().translated(x, margin + 20));
    p.drawImage(QPoint(x, margin + 20), Render(window, dpr));
    p.restore();
    x += skin::kBackgroundWidth + gap;
  }

  // Every glyph in its four states, on the screen's black.
  int y = margin + 20 + skin::kBackgroundHeight + gap + 12;
  Caption(p, QPoint(margin, y - 8), QStringLiteral("Glyphs: up, over, down, disabled"));
  const QStringList names = skin::ControlNames();
  for (const QString& name : names) {
    const QSize glyph = skin::ControlSize(name);
    const int column = std::max(glyph.width(), 40) + 12;
    const QRect row(margin, y, 150 + 4 * column, glyph.height() + 10);
    p.fillRect(row, QColor(4, 5, 7));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    p.setFont(font);
    p.setPen(QColor(150, 158, 170));
    p.drawText(QRect(row.left() + 8, row.top(), 140, row.height()), Qt::AlignVCenter,
               QStringLiteral("%1  %2x%3").arg(name).arg(glyph.width()).arg(glyph.height()));
    const skin::TGlyphSet set = skin::Glyphs(name, dpr);
    int gx = row.left() + 150;
    for (const QImage* g : {&set.up, &set.over, &set.down, &set.disabled}) {
      p.drawImage(QPoint(gx, row.top() + 5), *g);
      gx += column;
    }
    y += row.height() + 4;
  }

  // The information pictures, the patterns tiled (and enlarged), the icon.
  int ix = margin + 150 + 4 * (210 + 12) + gap;
  int iy = margin + 20 + skin::kBackgroundHeight + gap + 12;
  Caption(p, QPoint(ix, iy - 8), QStringLiteral("Patterns ImgT, ImgN: 3 x 3 tiles, 2x"));
  for (const QString& name : {QStringLiteral("ImgT"), QStringLiteral("ImgN")}) {
    const QImage tile = skin::Pattern(name, dpr);
    QImage tiled((QSizeF(99, 99) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    tiled.setDevicePixelRatio(dpr);
    QPainter tp(&tiled);
    tp.fillRect(QRect(0, 0, 99, 99), QBrush(tile));
    tp.end();
    p.drawImage(QRect(ix, iy, 198, 198), tiled);
    iy += 198 + 8;
  }
  Caption(p, QPoint(ix, iy + 14), QStringLiteral("Icon"));
  const QIcon icon = skin::ProgramIcon();
  int icx = ix;
  for (int s : {128, 48, 32, 16}) {
    p.drawPixmap(QRect(icx, iy + 22, s, s), icon.pixmap(QSize(s, s), dpr));
    icx += s + 10;
  }
  y = std::max(y, iy + 22 + 128) + gap;
  Caption(p, QPoint(margin, y + 4), QStringLiteral("Information pictures: English, Polish"));
  p.drawImage(QPoint(margin, y + 12), skin::InfoPicture(false, dpr));
  p.drawImage(QPoint(margin + 223 + gap, y + 12), skin::InfoPicture(true, dpr));
  return sheet;
}

}  // namespace trelvix::app::test
