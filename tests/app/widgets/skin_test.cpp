// The skin: sizes, shape and key colour, the four states of every glyph, seamless patterns, the
// information pictures, the icon; and the skin sheet a person looks at (build/skin-sheet.png).
#include <gtest/gtest.h>

#include <QFile>
#include <QSet>
#include <QTest>
#include <cmath>
#include <cstdlib>

#include "app/widgets/mb_button.h"
#include "app/widgets/skin.h"
#include "app/widgets/skin_sheet.h"

namespace trelvix::app {
namespace {

using test::ButtonPlaces;
using test::OtherVisiblePlaces;

constexpr qreal kRatios[] = {1.0, 2.0};

QImage Argb(const QImage& image) {
  return image.convertToFormat(QImage::Format_ARGB32);
}

// Mean difference per channel (alpha included) of two images of one size, 0..255.
double MeanDifference(const QImage& a, const QImage& b) {
  const QImage x = Argb(a), y = Argb(b);
  double sum = 0;
  for (int row = 0; row < x.height(); ++row) {
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    for (int col = 0; col < x.width(); ++col) {
      sum += std::abs(qRed(p[col]) - qRed(q[col])) + std::abs(qGreen(p[col]) - qGreen(q[col])) +
             std::abs(qBlue(p[col]) - qBlue(q[col])) + std::abs(qAlpha(p[col]) - qAlpha(q[col]));
    }
  }
  return sum / (4.0 * x.width() * x.height());
}

// Mean saturation and lightness of the visible pixels, weighted by their opacity.
struct TLook {
  double saturation = 0;
  double lightness = 0;
};
TLook Look(const QImage& image) {
  const QImage x = Argb(image);
  double weight = 0, s = 0, l = 0;
  for (int row = 0; row < x.height(); ++row)
    for (int col = 0; col < x.width(); ++col) {
      const QColor c = x.pixelColor(col, row);
      const double a = c.alphaF();
      weight += a;
      s += a * c.hslSaturationF();
      l += a * c.lightnessF();
    }
  return weight > 0 ? TLook{s / weight, l / weight} : TLook{};
}

TEST(Skin, KnowsEveryButtonOfTheWindowAtItsSize) {
  QSet<QString> expected;
  for (const auto& place : ButtonPlaces()) {
    expected << place.name;
    EXPECT_EQ(skin::ControlSize(place.name), place.rect.size()) << qPrintable(place.name);
  }
  const QStringList names = skin::ControlNames();
  EXPECT_EQ(QSet<QString>(names.begin(), names.end()), expected);
  EXPECT_FALSE(skin::ControlSize(QStringLiteral("btnNothing")).isValid());
  EXPECT_TRUE(skin::Glyphs(QStringLiteral("btnNothing"), 1).up.isNull());
}

TEST(Skin, GlyphsHaveTheControlsSizeAtEveryRatio) {
  for (qreal dpr : kRatios)
    for (const auto& place : ButtonPlaces()) {
      SCOPED_TRACE(qPrintable(QStringLiteral("%1 at %2x").arg(place.name).arg(dpr)));
      const skin::TGlyphSet set = skin::Glyphs(place.name, dpr);
      for (const QImage* g : {&set.up, &set.over, &set.down, &set.disabled}) {
        ASSERT_FALSE(g->isNull());
        EXPECT_EQ(g->size(), place.rect.size() * dpr);
        EXPECT_EQ(g->devicePixelRatio(), dpr);
        EXPECT_EQ(g->deviceIndependentSize().toSize(), place.rect.size());
        EXPECT_TRUE(g->hasAlphaChannel());
        // The transparent-colour rule of the button takes nothing from the picture.
        EXPECT_EQ(qAlpha(g->pixel(0, g->height() - 1)), 0);
      }
    }
}

TEST(Skin, FourStatesOfEachButtonDifferVisiblyAndDisabledIsGreyed) {
  for (const auto& place : ButtonPlaces()) {
    SCOPED_TRACE(qPrintable(place.name));
    const skin::TGlyphSet set = skin::Glyphs(place.name, 1);
    const QImage* states[] = {&set.up, &set.over, &set.down, &set.disabled};
    for (int i = 0; i < 4; ++i)
      for (int j = i + 1; j < 4; ++j)
        EXPECT_GT(MeanDifference(*states[i], *states[j]), 2.0) << i << j;
    const TLook up = Look(set.up), disabled = Look(set.disabled);
    EXPECT_LT(disabled.saturation, 0.3);
    EXPECT_LT(disabled.lightness, up.lightness);
  }
}

TEST(Skin, BackgroundIsKeyedOutsideItsShapeOnly) {
  const QRegion shape = skin::WindowShape();
  ASSERT_FALSE(shape.isEmpty());
  EXPECT_EQ(shape.boundingRect(), QRect(2, 2, 267, 496));
  for (qreal dpr : kRatios) {
    SCOPED_TRACE(dpr);
    const QImage background = Argb(skin::Background(dpr));
    ASSERT_EQ(background.size(), QSize(271, 500) * dpr);
    EXPECT_EQ(background.devicePixelRatio(), dpr);
    const QRgb key = skin::KeyColor().rgb();
    EXPECT_EQ(background.pixel(0, background.height() - 1), key);
    int inside_keyed = 0, outside_not_keyed = 0;
    for (int y = 0; y < background.height(); ++y)
      for (int x = 0; x < background.width(); ++x) {
        const bool inside = shape.contains(QPoint(int(x / dpr), int(y / dpr)));
        const bool keyed = background.pixel(x, y) == key;
        inside_keyed += inside && keyed;
        outside_not_keyed += !inside && !keyed;
        // Opaque everywhere: nothing of the desktop mixes into the edges.
        ASSERT_EQ(qAlpha(background.pixel(x, y)), 255);
      }
    EXPECT_EQ(inside_keyed, 0);
    EXPECT_EQ(outside_not_keyed, 0);
  }
}

TEST(Skin, EveryVisibleControlLiesInsideTheShape) {
  const QRegion shape = skin::WindowShape();
  auto places = ButtonPlaces();
  places.insert(places.end(), OtherVisiblePlaces().begin(), OtherVisiblePlaces().end());
  for (const auto& place : places)
    EXPECT_TRUE((QRegion(place.rect) - shape).isEmpty()) << qPrintable(place.name);
  // The rounded corners are cut away.
  for (QPoint corner : {QPoint(0, 0), QPoint(270, 0), QPoint(0, 499), QPoint(270, 499)})
    EXPECT_FALSE(shape.contains(corner));
}

// A window shaped by the skin, with each button at its place: a click on the middle of the
// button falls inside the window's mask and reaches the button.
TEST(Skin, ClickOnEveryButtonOfTheShapedWindowReachesIt) {
  QWidget window;
  window.setFixedSize(skin::kBackgroundWidth, skin::kBackgroundHeight);
  window.setMask(skin::WindowShape());
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  for (const auto& place : ButtonPlaces()) {
    SCOPED_TRACE(qPrintable(place.name));
    TMBButton button(&window);
    button.setGeometry(place.rect);
    button.SetButtonStyle(TButtonStyle::btNormal);
    ASSERT_TRUE(skin::ApplyGlyphs(button, place.name));
    button.show();
    int clicks = 0;
    button.SetOnClick([&](TMBButton*) { ++clicks; });
    const QPoint centre = place.rect.center();
    EXPECT_TRUE(window.mask().contains(centre));
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(clicks, 1);
  }
}

TEST(Skin, PatternsTileWithoutSeams) {
  EXPECT_TRUE(skin::Pattern(QStringLiteral("ImgX")).isNull());
  const QImage done = skin::Pattern(QStringLiteral("ImgT")),
               todo = skin::Pattern(QStringLiteral("ImgN"));
  EXPECT_GT(MeanDifference(done, todo), 20.0);  // done and to do are told apart at a glance
  for (const QString& name : {QStringLiteral("ImgN"), QStringLiteral("ImgT")})
    for (qreal dpr : kRatios) {
      SCOPED_TRACE(qPrintable(QStringLiteral("%1 at %2x").arg(name).arg(dpr)));
      const QImage tile = Argb(skin::Pattern(name, dpr));
      const int n = tile.width();
      ASSERT_EQ(tile.size(), QSize(33, 33) * dpr);
      // The step across the tile's edge is no larger than the largest step inside it.
      const auto line_diff = [&](bool columns, int a, int b) {
        double sum = 0;
        for (int k = 0; k < n; ++k) {
          const QRgb p = columns ? tile.pixel(a, k) : tile.pixel(k, a);
          const QRgb q = columns ? tile.pixel(b, k) : tile.pixel(k, b);
          sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                 std::abs(qBlue(p) - qBlue(q));
        }
        return sum / n;
      };
      for (bool columns : {true, false}) {
        double inner = 0;
        for (int i = 0; i + 1 < n; ++i) inner = std::max(inner, line_diff(columns, i, i + 1));
        EXPECT_LE(line_diff(columns, n - 1, 0), inner + 1.0) << (columns ? "columns" : "rows");
      }
      for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) ASSERT_EQ(qAlpha(tile.pixel(x, y)), 255);
    }
}

TEST(Skin, InformationPicturesInBothLanguages) {
  const QImage en = skin::InfoPicture(false, 1), pl = skin::InfoPicture(true, 1);
  EXPECT_EQ(en.size(), QSize(223, 281));
  EXPECT_EQ(skin::InfoPicture(true, 2).size(), QSize(446, 562));
  EXPECT_GT(MeanDifference(en, pl), 1.0);
  // Opaque but for the rounded corners.
  EXPECT_EQ(qAlpha(Argb(en).pixel(111, 140)), 255);
  const struct {
    const char* file;
    std::vector<const char*> texts;
  } cases[] = {
      {":/skin/info_en.svg",
       {"Converts", "Add a video", "Add subtitles", "Press Convert", "Subtitle formats", "MicroDVD",
        "MPL2", "TMPlayer", "SubRip", "SubStation", "SAMI", "information page"}},
      {":/skin/info_pl.svg",
       {"Zamienia", "Dodaj film", "Dodaj napisy", "Naciśnij", "Formaty napisów", "MicroDVD", "MPL2",
        "TMPlayer", "SubRip", "SubStation", "SAMI", "stronę informacyjną"}},
  };
  for (const auto& c : cases) {
    QFile file(QString::fromLatin1(c.file));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString svg = QString::fromUtf8(file.readAll());
    for (const char* text : c.texts) EXPECT_TRUE(svg.contains(QString::fromUtf8(text))) << text;
  }
}

TEST(Skin, ProgramIconAtTheUsualSizes) {
  const QIcon icon = skin::ProgramIcon();
  ASSERT_FALSE(icon.isNull());
  for (int size : {16, 32, 48, 256}) {
    const QImage image = icon.pixmap(size, size).toImage();
    EXPECT_EQ(image.size(), QSize(size, size));
    EXPECT_EQ(image.pixelColor(size / 2, size / 2).alpha(), 255);
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);  // rounded tile
  }
}

TEST(Skin, ApplyGlyphsGivesTheButtonItsPictures) {
  TMBButton button;
  button.resize(34, 39);
  ASSERT_TRUE(skin::ApplyGlyphs(button, QStringLiteral("btnAdd")));
  const skin::TGlyphSet set = skin::Glyphs(QStringLiteral("btnAdd"), button.devicePixelRatioF());
  EXPECT_EQ(button.GlyphUp(), set.up);
  EXPECT_EQ(button.GlyphOver(), set.over);
  EXPECT_EQ(button.GlyphDown(), set.down);
  EXPECT_EQ(button.GlyphDisable(), set.disabled);
  EXPECT_FALSE(skin::ApplyGlyphs(button, QStringLiteral("btnNothing")));
  EXPECT_EQ(button.GlyphUp(), set.up);
}

// Writes build/skin-sheet.png (and the 2x sheet) for a person to look at.
TEST(SkinSheet, RendersFromTheBuild) {
  const char* dir = std::getenv("TRELVIX_TEST_BINARY_DIR");
  ASSERT_NE(dir, nullptr);
  for (auto [dpr, name] : {std::pair{1.0, "skin-sheet.png"}, std::pair{2.0, "skin-sheet@2x.png"}}) {
    const QImage sheet = test::RenderSkinSheet(dpr);
    ASSERT_FALSE(sheet.isNull());
    const QString path = QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(name);
    EXPECT_TRUE(sheet.save(path)) << qPrintable(path);
  }
}

}  // namespace
}  // namespace trelvix::app
