#include "app/widgets/skin.h"

#include <QBitmap>
#include <QDir>
#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <array>

#include "app/widgets/mb_button.h"

namespace trelvix::app::skin {

namespace {

// Each button's SVG is a strip of its four glyphs side by side, in this order.
constexpr int kGlyphsPerStrip = 4;
constexpr int kPatternSize = 33;
constexpr QSize kInfoSize(223, 281);
// Pixels at least this opaque belong to the window; the rest is outside.
constexpr int kShapeAlphaThreshold = 128;
constexpr std::array kIconSizes{16, 22, 24, 32, 48, 64, 128, 256};

QString ResourcePath(const QString& name) {
  return QStringLiteral(":/skin/") + name;
}
QString ButtonPath(const QString& controlName) {
  return ResourcePath(QStringLiteral("buttons/%1.svg").arg(controlName));
}

QImage NewImage(QSizeF logical, qreal dpr) {
  QImage image((logical * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  image.setDevicePixelRatio(dpr);
  return image;
}

void PrepareForSvg(QPainter& painter) {
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                         QPainter::SmoothPixmapTransform);
}

// The whole SVG at its own logical size and the given ratio; null when it cannot be read.
QImage RenderSvg(const QString& path, qreal dpr, QSize expected = QSize()) {
  QSvgRenderer renderer(path);
  if (!renderer.isValid()) return {};
  const QSize size = expected.isValid() ? expected : renderer.defaultSize();
  QImage image = NewImage(size, dpr);
  QPainter painter(&image);
  PrepareForSvg(painter);
  renderer.render(&painter, QRectF(QPointF(0, 0), size));
  return image;
}

// The background as drawn, before the key colour is applied: transparent outside the body.
const QImage& RawBackground1x() {
  static const QImage image = RenderSvg(ResourcePath(QStringLiteral("background.svg")), 1.0,
                                        QSize(kBackgroundWidth, kBackgroundHeight));
  return image;
}

// Inside = opaque enough at 1x. Logical coordinates; one byte per pixel.
const QImage& ShapeMask1x() {
  static const QImage mask = [] {
    const QImage& raw = RawBackground1x();
    QImage inside(raw.size(), QImage::Format_Grayscale8);
    inside.fill(0);
    for (int y = 0; y < raw.height(); ++y) {
      const auto* src = reinterpret_cast<const QRgb*>(raw.constScanLine(y));
      uchar* dst = inside.scanLine(y);
      for (int x = 0; x < raw.width(); ++x) dst[x] = qAlpha(src[x]) >= kShapeAlphaThreshold;
    }
    return inside;
  }();
  return mask;
}

// Puts the drawn body on an opaque backdrop inside the 1x shape and the key colour outside, so
// that no edge pixel mixes with the key colour and the shape is the same at every ratio.
QImage KeyedBackground(qreal dpr) {
  QImage drawn = dpr == 1.0 ? RawBackground1x()
                            : RenderSvg(ResourcePath(QStringLiteral("background.svg")), dpr,
                                        QSize(kBackgroundWidth, kBackgroundHeight));
  if (drawn.isNull()) return {};
  const QImage& inside = ShapeMask1x();
  QImage out(drawn.size(), QImage::Format_ARGB32);
  const QRgb key = KeyColor().rgb();
  const QRgb backdrop = qRgb(0, 0, 0);
  for (int y = 0; y < out.height(); ++y) {
    const auto* src = reinterpret_cast<const QRgb*>(drawn.constScanLine(y));
    auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
    const uchar* mask_line = inside.constScanLine(qMin(int(y / dpr), inside.height() - 1));
    for (int x = 0; x < out.width(); ++x) {
      if (!mask_line[qMin(int(x / dpr), inside.width() - 1)]) {
        dst[x] = key;
        continue;
      }
      // Premultiplied source over an opaque backdrop.
      const QRgb s = src[x];
      const int inv = 255 - qAlpha(s);
      dst[x] = qRgb(qRed(s) + qRed(backdrop) * inv / 255, qGreen(s) + qGreen(backdrop) * inv / 255,
                    qBlue(s) + qBlue(backdrop) * inv / 255);
    }
  }
  out.setDevicePixelRatio(dpr);
  return out;
}

}  // namespace

QColor KeyColor() {
  return QColor(255, 0, 255);
}

QImage Background(qreal dpr) {
  static QHash<qreal, QImage> cache;
  auto it = cache.find(dpr);
  if (it == cache.end()) it = cache.insert(dpr, KeyedBackground(dpr));
  return *it;
}

QRegion WindowShape() {
  static const QRegion shape = [] {
    const QImage background = Background(1.0);
    if (background.isNull()) return QRegion();
    const QImage mask = background.createMaskFromColor(KeyColor().rgb(), Qt::MaskInColor);
    return QRegion(QBitmap::fromImage(mask));
  }();
  return shape;
}

QStringList ControlNames() {
  QStringList names;
  const QDir dir(ResourcePath(QStringLiteral("buttons")));
  for (const QString& file : dir.entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name))
    names << file.chopped(4);
  return names;
}

QSize ControlSize(const QString& controlName) {
  QSvgRenderer renderer(ButtonPath(controlName));
  if (!renderer.isValid()) return {};
  const QSize strip = renderer.defaultSize();
  return {strip.width() / kGlyphsPerStrip, strip.height()};
}

TGlyphSet Glyphs(const QString& controlName, qreal dpr) {
  QSvgRenderer renderer(ButtonPath(controlName));
  if (!renderer.isValid()) return {};
  const QSize strip = renderer.defaultSize();
  const QSize size(strip.width() / kGlyphsPerStrip, strip.height());
  std::array<QImage, kGlyphsPerStrip> glyphs;
  for (int i = 0; i < kGlyphsPerStrip; ++i) {
    glyphs[i] = NewImage(size, dpr);
    QPainter painter(&glyphs[i]);
    PrepareForSvg(painter);
    renderer.render(&painter, QRectF(QPointF(-i * size.width(), 0), strip));
  }
  return {glyphs[0], glyphs[1], glyphs[2], glyphs[3]};
}

bool ApplyGlyphs(TMBButton& button, const QString& controlName) {
  const TGlyphSet set = Glyphs(controlName, button.devicePixelRatioF());
  if (set.up.isNull()) return false;
  button.SetGlyphUp(set.up);
  button.SetGlyphOver(set.over);
  button.SetGlyphDown(set.down);
  button.SetGlyphDisable(set.disabled);
  return true;
}

QImage Pattern(const QString& name, qreal dpr) {
  if (name != QLatin1String("ImgN") && name != QLatin1String("ImgT")) return {};
  return RenderSvg(ResourcePath(name + QStringLiteral(".svg")), dpr,
                   QSize(kPatternSize, kPatternSize));
}

QImage InfoPicture(bool polish, qreal dpr) {
  return RenderSvg(
      ResourcePath(polish ? QStringLiteral("info_pl.svg") : QStringLiteral("info_en.svg")), dpr,
      kInfoSize);
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : kIconSizes) {
    const QImage image =
        RenderSvg(ResourcePath(QStringLiteral("icon.svg")), 1.0, QSize(size, size));
    if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

}  // namespace trelvix::app::skin
