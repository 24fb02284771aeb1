// The skinned image button, driven by real mouse events through the window system interface and
// judged by the pixels it paints on its parent.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPainter>
#include <QTest>
#include <QWidget>
#include <memory>
#include <vector>

#include "app/widgets/mb_button.h"

namespace trelvix::app {
namespace {

const QColor kParent(40, 40, 40);
const QColor kUp(220, 30, 30);
const QColor kOver(30, 200, 30);
const QColor kDown(30, 30, 220);
const QColor kDisabled(230, 230, 20);
const QColor kKey(255, 0, 255);

// A 20 x 20 glyph of one colour whose bottom-left pixel (the transparent colour) is the key, with
// a key-coloured hole at (5,5) and an opaque border pixel at (19,0) of the glyph's colour.
QImage Glyph(const QColor& colour) {
  QImage image(20, 20, QImage::Format_RGB32);
  image.fill(colour);
  image.setPixelColor(0, 19, kKey);
  image.setPixelColor(5, 5, kKey);
  return image;
}

enum class Shown { Up, Over, Down, Disabled, Parent, Other };

Shown Classify(const QColor& c) {
  for (auto [colour, shown] :
       {std::pair{kUp, Shown::Up}, std::pair{kOver, Shown::Over}, std::pair{kDown, Shown::Down},
        std::pair{kDisabled, Shown::Disabled}, std::pair{kParent, Shown::Parent}}) {
    if (c.rgb() == colour.rgb()) return shown;
  }
  return Shown::Other;
}

// The parent paints itself in one colour; the button, 40 x 40 at (50, 20), paints over it.
class ButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parent_ = std::make_unique<QWidget>();
    parent_->setFixedSize(140, 80);
    QPalette pal = parent_->palette();
    pal.setColor(QPalette::Window, kParent);
    parent_->setPalette(pal);
    parent_->setAutoFillBackground(true);
    button_ = new TMBButton(parent_.get());
    button_->move(50, 20);
    button_->SetGlyphUp(Glyph(kUp));
    button_->SetGlyphOver(Glyph(kOver));
    button_->SetGlyphDown(Glyph(kDown));
    button_->SetGlyphDisable(Glyph(kDisabled));
    button_->SetOnClick([this](TMBButton* sender) {
      EXPECT_EQ(sender, button_);
      ++clicks_;
      down_at_click_.push_back(sender->Down());
    });
    button_->SetOnDblClick([this](TMBButton*) { ++dblclicks_; });
    button_->SetOnMouseEnter([this](TMBButton*) { ++enters_; });
    button_->SetOnMouseLeave([this](TMBButton*) { ++leaves_; });
    parent_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(parent_.get()));
  }

  QImage Grab() { return parent_->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  // What the button shows at a point of its own.
  Shown At(QPoint p) { return Classify(Grab().pixelColor(button_->mapToParent(p))); }
  // The glyph's top-left corner as painted (the first glyph pixel from the top-left).
  QPoint GlyphOrigin() {
    const QImage image = Grab();
    for (int y = 20; y < 60; ++y)
      for (int x = 50; x < 90; ++x)
        if (Classify(image.pixelColor(x, y)) <= Shown::Disabled) return QPoint(x - 50, y - 20);
    return QPoint(-1, -1);
  }
  // What the middle of the glyph shows.
  Shown Centre() { return At(QPoint(20, 20)); }

  QWindow* Window() { return parent_->windowHandle(); }
  QPoint InWindow(QPoint p) { return button_->mapTo(parent_.get(), p); }
  void Press(QPoint p, Qt::MouseButton b = Qt::LeftButton) {
    QTest::mousePress(Window(), b, {}, InWindow(p));
  }
  void Release(QPoint p, Qt::MouseButton b = Qt::LeftButton) {
    QTest::mouseRelease(Window(), b, {}, InWindow(p));
  }
  void Move(QPoint p) { QTest::mouseMove(Window(), InWindow(p)); }
  void Click(QPoint p = QPoint(20, 20)) {
    QTest::mouseClick(Window(), Qt::LeftButton, {}, InWindow(p));
  }

  std::unique_ptr<QWidget> parent_;
  TMBButton* button_ = nullptr;
  int clicks_ = 0, dblclicks_ = 0, enters_ = 0, leaves_ = 0;
  std::vector<bool> down_at_click_;
};

TEST(MBButtonDefaults, AreThoseOfAFreshButton) {
  TMBButton b;
  EXPECT_EQ(b.size(), QSize(40, 40));
  EXPECT_EQ(b.GlyphState(), TGlyphState::gsUp);
  EXPECT_EQ(b.ButtonStyle(), TButtonStyle::btSpeed);
  EXPECT_FALSE(b.Down());
  EXPECT_TRUE(b.Border());
  EXPECT_TRUE(b.Transparent());
  EXPECT_TRUE(b.GlyphTransparent());
  EXPECT_EQ(b.Margin(), -1);
  EXPECT_EQ(b.TextPosition(), TTextPos::tpNone);
  EXPECT_FALSE(b.Shadow());
  EXPECT_EQ(b.ShadowColor(), QColor(128, 128, 128));
  EXPECT_TRUE(b.MarkDropDown());
  EXPECT_EQ(b.MenuPosition(), TDropDownMenuPos::dmpBottom);
  EXPECT_EQ(b.ModalResult(), 0);
  EXPECT_EQ(b.State(), TButtonState::bsUp);
  EXPECT_TRUE(b.GlyphUp().isNull());
}

TEST(MBButtonDown, IsForcedFalseUnlessTheStyleLatches) {
  const struct {
    TButtonStyle style;
    bool down;
  } cases[] = {{TButtonStyle::btFlat, false},
               {TButtonStyle::btSpeed, true},
               {TButtonStyle::btNormal, false},
               {TButtonStyle::btSpeedFlat, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.style));
    TMBButton b;
    b.SetButtonStyle(c.style);
    b.SetDown(true);
    EXPECT_EQ(b.Down(), c.down);
    EXPECT_EQ(b.State(), c.down ? TButtonState::bsExclusive : TButtonState::bsUp);
  }
  // A latched button whose style stops latching comes up.
  TMBButton b;
  b.SetDown(true);
  b.SetButtonStyle(TButtonStyle::btNormal);
  EXPECT_FALSE(b.Down());
}

TEST(MBButtonGlyphs, AreCopiesAndANullImageEmptiesThem) {
  TMBButton b;
  QImage source = Glyph(kUp);
  b.SetGlyphUp(source);
  source.fill(Qt::black);
  EXPECT_EQ(b.GlyphUp().pixelColor(10, 10), kUp);
  b.SetGlyphUp(QImage());
  EXPECT_TRUE(b.GlyphUp().isNull());
}

TEST_F(ButtonTest, PaintsTheGlyphCentredWithoutItsTransparentColour) {
  button_->SetBorder(false);
  EXPECT_EQ(GlyphOrigin(), QPoint(10, 10));
  // The key-coloured pixels of the glyph leave the parent visible.
  EXPECT_EQ(At(QPoint(15, 15)), Shown::Parent);
  EXPECT_EQ(At(QPoint(10, 29)), Shown::Parent);
  EXPECT_EQ(At(QPoint(29, 10)), Shown::Up);
  EXPECT_EQ(button_->TransparentColor(), kKey);
  // Outside the glyph the button has no background of its own.
  EXPECT_EQ(At(QPoint(2, 2)), Shown::Parent);

  button_->SetGlyphTransparent(false);
  EXPECT_EQ(Classify(Grab().pixelColor(button_->mapToParent(QPoint(15, 15)))), Shown::Other);
}

TEST_F(ButtonTest, PlacesTheGlyphByBorderPressAndMargin) {
  const struct {
    const char* name;
    bool border;
    bool down;
    int margin;
    QPoint origin;
  } cases[] = {
      {"centred", false, false, -1, {10, 10}},
      {"down without border: no shift", false, true, -1, {10, 10}},
      {"down with border: one pixel right and down", true, true, -1, {11, 11}},
      {"margin added to x", false, false, 3, {13, 10}},
      {"margin and shift", true, true, 3, {14, 11}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    button_->SetBorder(c.border);
    button_->SetDown(c.down);
    button_->SetMargin(c.margin);
    EXPECT_EQ(GlyphOrigin(), c.origin);
    EXPECT_EQ(Centre(), c.down ? Shown::Down : Shown::Up);
  }
  button_->SetMargin(-5);  // ignored
  EXPECT_EQ(button_->Margin(), 3);
}

TEST_F(ButtonTest, OpaqueButtonFillsItselfFirst) {
  QPalette pal = button_->palette();
  pal.setColor(QPalette::Window, QColor(0, 128, 128));
  button_->setPalette(pal);
  button_->SetBorder(false);
  EXPECT_EQ(At(QPoint(2, 2)), Shown::Parent);
  button_->SetTransparent(false);
  EXPECT_EQ(Grab().pixelColor(button_->mapToParent(QPoint(2, 2))), QColor(0, 128, 128));
}

TEST_F(ButtonTest, BorderIsRaisedUpAndSunkenDown) {
  QPalette pal = button_->palette();
  pal.setColor(QPalette::Light, Qt::white);
  pal.setColor(QPalette::Dark, Qt::black);
  button_->setPalette(pal);
  const auto edges = [&] {
    const QImage image = Grab();
    return std::pair{image.pixelColor(button_->mapToParent(QPoint(0, 20))),
                     image.pixelColor(button_->mapToParent(QPoint(39, 20)))};
  };
  EXPECT_EQ(edges(), std::pair(QColor(Qt::white), QColor(Qt::black)));
  button_->SetDown(true);
  EXPECT_EQ(edges(), std::pair(QColor(Qt::black), QColor(Qt::white)));
  button_->SetBorder(false);
  EXPECT_EQ(edges(), std::pair(kParent, kParent));
  // A flat style shows its border only while the mouse is in or the button is down.
  button_->SetBorder(true);
  button_->SetDown(false);
  button_->SetButtonStyle(TButtonStyle::btSpeedFlat);
  EXPECT_EQ(edges(), std::pair(kParent, kParent));
  button_->SetDown(true);
  EXPECT_EQ(edges(), std::pair(QColor(Qt::black), QColor(Qt::white)));
}

TEST_F(ButtonTest, ReleaseInsideClicksAndLatchesBeforeOnClick) {
  const struct {
    const char* name;
    TButtonStyle style;
    bool down_before;
    QPoint release;
    Qt::MouseButton button;
    int clicks;
    bool down_after;
    Shown after;  // the pointer still where it was released
  } cases[] = {
      {"latching, up",
       TButtonStyle::btSpeed,
       false,
       {20, 20},
       Qt::LeftButton,
       1,
       true,
       Shown::Down},
      {"latching, down",
       TButtonStyle::btSpeed,
       true,
       {20, 20},
       Qt::LeftButton,
       1,
       false,
       Shown::Up},
      {"latching flat",
       TButtonStyle::btSpeedFlat,
       false,
       {20, 20},
       Qt::LeftButton,
       1,
       true,
       Shown::Down},
      {"normal", TButtonStyle::btNormal, false, {20, 20}, Qt::LeftButton, 1, false, Shown::Up},
      {"bottom edge counts as inside",
       TButtonStyle::btSpeed,
       false,
       {20, 40},
       Qt::LeftButton,
       1,
       true,
       Shown::Down},
      {"right edge is outside",
       TButtonStyle::btSpeed,
       false,
       {40, 20},
       Qt::LeftButton,
       0,
       false,
       Shown::Up},
      {"released outside, latching",
       TButtonStyle::btSpeed,
       false,
       {60, 20},
       Qt::LeftButton,
       0,
       false,
       Shown::Up},
      {"released outside, down",
       TButtonStyle::btSpeed,
       true,
       {60, 20},
       Qt::LeftButton,
       0,
       true,
       Shown::Down},
      {"released outside, normal",
       TButtonStyle::btNormal,
       false,
       {20, -5},
       Qt::LeftButton,
       0,
       false,
       Shown::Up},
      // Only the left button presses; the pointer over the button shows GlyphOver.
      {"right button",
       TButtonStyle::btSpeed,
       false,
       {20, 20},
       Qt::RightButton,
       0,
       false,
       Shown::Over},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    button_->SetButtonStyle(c.style);
    button_->SetDown(c.down_before);
    clicks_ = 0;
    down_at_click_.clear();
    int downs = 0, ups = 0;
    button_->SetOnMouseDown(
        [&](TMBButton*, Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
          ++downs;
          EXPECT_EQ(b, c.button);
          EXPECT_EQ(QPoint(x, y), QPoint(20, 20));
        });
    button_->SetOnMouseUp([&](TMBButton*, Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
      ++ups;
      EXPECT_EQ(b, c.button);
      EXPECT_EQ(QPoint(x, y), c.release);
    });
    Move(QPoint(-20, 20));
    Press(QPoint(20, 20), c.button);
    if (c.button == Qt::LeftButton) {
      EXPECT_EQ(Centre(), Shown::Down);
    }
    Release(c.release, c.button);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(clicks_, c.clicks);
    EXPECT_EQ(button_->Down(), c.down_after);
    // OnClick sees the toggled value.
    for (bool seen : down_at_click_) EXPECT_EQ(seen, c.down_after);
    EXPECT_EQ(Centre(), c.after);
  }
}

TEST_F(ButtonTest, PressedLookFollowsThePointerWhileHeld) {
  const struct {
    const char* name;
    bool down;
    QPoint to;
    TButtonState state;
    Shown shown;
  } cases[] = {
      {"inside", false, {39, 40}, TButtonState::bsDown, Shown::Down},
      {"outside right", false, {40, 20}, TButtonState::bsUp, Shown::Up},
      {"outside below", false, {20, 41}, TButtonState::bsUp, Shown::Up},
      {"back inside", false, {0, 0}, TButtonState::bsDown, Shown::Down},
      // A latched button keeps its pressed picture wherever the pointer goes.
      {"down, outside", true, {-1, 20}, TButtonState::bsDown, Shown::Down},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    button_->SetDown(c.down);
    Press(QPoint(20, 20));
    Move(c.to);
    EXPECT_EQ(Centre(), c.shown);
    EXPECT_EQ(button_->State(), c.state);
    Release(QPoint(60, 60));  // outside: no click, no toggle
    EXPECT_EQ(button_->Down(), c.down);
  }
  EXPECT_EQ(clicks_, 0);
}

TEST_F(ButtonTest, DisabledShowsGlyphDisableAndComesBackToItsState) {
  const struct {
    const char* name;
    TGlyphState glyph_state;
    bool down;
    Shown disabled, enabled;
  } cases[] = {
      {"up", TGlyphState::gsUp, false, Shown::Disabled, Shown::Up},
      {"over", TGlyphState::gsOver, false, Shown::Disabled, Shown::Up},
      {"down", TGlyphState::gsUp, true, Shown::Disabled, Shown::Down},
      {"no glyph stays no glyph", TGlyphState::gsNone, false, Shown::Parent, Shown::Parent},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    button_->SetDown(c.down);
    button_->SetGlyphState(c.glyph_state);
    button_->setEnabled(false);
    EXPECT_EQ(Centre(), c.disabled);
    EXPECT_EQ(button_->State(), TButtonState::bsDisabled);
    button_->setEnabled(true);
    EXPECT_EQ(Centre(), c.enabled);
    if (c.glyph_state == TGlyphState::gsNone) {
      EXPECT_EQ(button_->GlyphState(), TGlyphState::gsNone);
    }
  }
  // A disabled button takes no clicks.
  button_->SetGlyphState(TGlyphState::gsUp);
  button_->setEnabled(false);
  Click();
  EXPECT_EQ(clicks_, 0);
}

TEST_F(ButtonTest, EmptyPictureFallsBackToGlyphUp) {
  button_->SetGlyphDisable(QImage());
  button_->setEnabled(false);
  EXPECT_EQ(Centre(), Shown::Up);
}

TEST_F(ButtonTest, MouseOverShowsGlyphOverOnlyWhenThereIsOne) {
  const struct {
    const char* name;
    bool has_over;
    bool down;
    Shown inside;
  } cases[] = {
      {"with a picture", true, false, Shown::Over},
      {"without a picture", false, false, Shown::Up},
      {"down", true, true, Shown::Down},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    button_->SetGlyphOver(c.has_over ? Glyph(kOver) : QImage());
    button_->SetDown(c.down);
    enters_ = leaves_ = 0;
    int moves = 0;
    button_->SetOnMouseMove(
        [&](TMBButton*, Qt::MouseButtons buttons, Qt::KeyboardModifiers, int x, int y) {
          ++moves;
          EXPECT_EQ(buttons, Qt::NoButton);
          EXPECT_EQ(QPoint(x, y), QPoint(20, 20));
        });
    Move(QPoint(-20, 20));
    Move(QPoint(20, 20));
    EXPECT_EQ(enters_, 1);
    EXPECT_EQ(moves, 1);  // hovering reports moves too
    button_->SetOnMouseMove(nullptr);
    EXPECT_TRUE(button_->MouseInControl());
    EXPECT_EQ(Centre(), c.inside);
    if (!c.has_over) {
      EXPECT_EQ(button_->GlyphState(), TGlyphState::gsUp);
    }
    Move(QPoint(-20, 20));
    EXPECT_EQ(leaves_, 1);
    EXPECT_FALSE(button_->MouseInControl());
    EXPECT_EQ(Centre(), c.down ? Shown::Down : Shown::Up);
  }
}

TEST_F(ButtonTest, CreatedOverKeepsGlyphOverUntilTheMouseFirstLeaves) {
  Move(QPoint(-20, 20));
  button_->SetGlyphState(TGlyphState::gsOver);
  EXPECT_EQ(Centre(), Shown::Over);
  Move(QPoint(-30, 20));  // moving elsewhere outside changes nothing
  EXPECT_EQ(Centre(), Shown::Over);
  Move(QPoint(20, 20));
  Move(QPoint(-20, 20));
  EXPECT_EQ(Centre(), Shown::Up);
}

TEST_F(ButtonTest, LeavingWhilePressedIsIgnoredUntilRelease) {
  Move(QPoint(20, 20));
  Press(QPoint(20, 20));
  Move(QPoint(-20, 20));
  EXPECT_EQ(leaves_, 0);
  Release(QPoint(-20, 20));
  EXPECT_FALSE(button_->MouseInControl());
  EXPECT_EQ(clicks_, 0);
}

TEST_F(ButtonTest, DoubleClickCountsOnlyWhenDown) {
  const struct {
    const char* name;
    TButtonStyle style;
    bool down_before;
    int dblclicks;
    int clicks;
  } cases[] = {
      // The first click latches the button, so the double click finds it down.
      {"latching, up", TButtonStyle::btSpeed, false, 1, 2},
      // The first click releases it.
      {"latching, down", TButtonStyle::btSpeed, true, 0, 2},
      {"normal", TButtonStyle::btNormal, false, 0, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    button_->SetButtonStyle(c.style);
    button_->SetDown(c.down_before);
    clicks_ = dblclicks_ = 0;
    QTest::mouseDClick(Window(), Qt::LeftButton, {}, InWindow(QPoint(20, 20)));
    EXPECT_EQ(dblclicks_, c.dblclicks);
    EXPECT_EQ(clicks_, c.clicks);
    EXPECT_EQ(button_->Down(), c.down_before);
  }
}

TEST_F(ButtonTest, CaptionIsDrawnOnlyWithATextPosition) {
  button_->resize(40, 60);
  button_->SetBorder(false);
  button_->SetCaption(QStringLiteral("Go"));
  const auto text_pixels = [&] {
    const QImage image = Grab();
    int n = 0;
    for (int y = 20 + 42; y < 20 + 60; ++y)
      for (int x = 50; x < 90; ++x) n += Classify(image.pixelColor(x, y)) == Shown::Other;
    return n;
  };
  EXPECT_EQ(text_pixels(), 0);
  EXPECT_EQ(GlyphOrigin(), QPoint(10, 20));
  button_->SetTextPosition(TTextPos::tpBelow);
  EXPECT_GT(text_pixels(), 5);
  EXPECT_LT(GlyphOrigin().y(), 20);  // the glyph makes room for the caption below it
}

TEST_F(ButtonTest, ClickGivesTheModalResultToTheDialog) {
  QDialog dialog;
  auto* b = new TMBButton(&dialog);
  b->SetButtonStyle(TButtonStyle::btNormal);
  b->SetModalResult(QDialog::Accepted);
  int seen = -1;
  b->SetOnClick([&](TMBButton*) { seen = dialog.result(); });
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {}, b->geometry().center());
  EXPECT_EQ(seen, QDialog::Accepted);
  EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace trelvix::app
