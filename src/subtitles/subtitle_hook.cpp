#include "subtitles/subtitle_hook.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <limits>

namespace trelvix::subtitles {
namespace {

// Extra height of a subtitle block, and the gaps between its lines.
constexpr int kBlockMargin = 15;
constexpr int kLineGap = 3;

std::string Utf8(const QString& s) {
  return s.toStdString();
}

}  // namespace

void TSubtitleHook::StartConversion(const TSubtitleTimetable& timetable,
                                    const TSubtitleSettings& settings, double frame_rate) {
  rows_.clear();
  rows_.reserve(size_t(timetable.Count()));
  for (int i = 0; i < timetable.Count(); ++i)
    rows_.push_back({timetable.KeyMs(i), BoundedSubtitleText(timetable.Row(i).Text)});
  settings_ = settings;
  frame_rate_ = frame_rate;
  next_row_ = 1;
  // A new conversion starts clean: nothing left over from the previous one is shown.
  queue_.clear();
  current_text_.clear();
  showing_ = false;
  show_until_ = 0;
  current_time_ = 0;
  display_time_ = settings_.NapisyCzasTag;
  font_ = TFontState{};
  block_ = TSubtitleBlock{};
}

int32_t TSubtitleHook::GapAfter(size_t row) const {
  if (row + 1 >= rows_.size() || !rows_[row].KeyMs || !rows_[row + 1].KeyMs) return 0;
  const int64_t gap = *rows_[row + 1].KeyMs - *rows_[row].KeyMs;
  return int32_t(std::clamp<int64_t>(gap, std::numeric_limits<int32_t>::min(),
                                     std::numeric_limits<int32_t>::max()));
}

bool TSubtitleHook::Process(runtime::TBitmap& bitmap, int64_t pts_us, int32_t frame_number,
                            bool& stop_hook) {
  if (!SubtitlesOn()) {
    stop_hook = true;
    return false;
  }
  if (pts_us == kNoPts && frame_rate_ > 0)
    current_time_ = int64_t(double(frame_number) * 1000000.0 / frame_rate_);
  else
    current_time_ = pts_us;

  // Take the rows that have become due, up to and including the last one.
  const int row_count = int(rows_.size()) + 1;
  for (int i = next_row_; i < row_count; ++i) {
    const TRow& row = rows_[size_t(i - 1)];
    if (row.KeyMs && *row.KeyMs * 1000 <= current_time_) {
      next_row_ = i + 1;
      queue_.push_back({row.Text, GapAfter(size_t(i - 1))});
    }
  }

  if (showing_ && current_time_ > show_until_) showing_ = false;
  // Without intelligent subtitles a new subtitle replaces the current one at once.
  if (!settings_.IQNapisow && !queue_.empty()) showing_ = false;

  if (showing_) {
    PiszTXT(current_text_, 0, true, bitmap);
    return true;
  }
  if (queue_.empty()) return false;
  try {
    current_text_ = queue_.front().Text;
    PiszTXT(current_text_, queue_.front().Gap, false, bitmap);
    queue_.pop_front();
    return true;
  } catch (const std::exception&) {
    // The entry stays first in the queue and is tried again on the next frame.
    return false;
  }
}

void TSubtitleHook::PiszTXT(const QString& text, int32_t gap, bool repaint,
                            runtime::TBitmap& bitmap) {
  if (!repaint) {
    showing_ = false;
    display_time_ = ReadingTime(text, int(queue_.size()), gap, settings_);
  }
  const runtime::TFont& configured = settings_.PanelWzorFont;

  // The scratch bitmap measures text with the drawing font; it is never drawn onto the frame.
  runtime::TBitmap scratch;
  runtime::TFont& font = scratch.Canvas().Font();
  font = configured;
  font.SetStyle(runtime::fsBold);

  TSubtitleLines lines = SplitSubtitleLines(text);

  const int frame_w = bitmap.Width(), frame_h = bitmap.Height();
  if (settings_.FontAutoHeight) {
    font.SetHeight(-int(std::trunc(settings_.FontVol / 100 * frame_h)));
    if (settings_.EFontSize / 2 > font.Size())
      font.SetHeight(-int(std::trunc(settings_.EFontSize / 2)));
  }

  const TFitMeasure measure{[&](const QString& s) { return scratch.Canvas().TextWidth(Utf8(s)); },
                            [&] {
                              // A line that never fits stops at a small readable size.
                              if (font.Size() <= kMinFontPoints) return false;
                              font.SetSize(font.Size() - 1);
                              return true;
                            }};
  const int max_width = MaxTextWidth(frame_w, settings_.FWidth);
  const int text_width =
      FitToWidth(lines, max_width, settings_.IQDziel, settings_.IQZmniejsz, measure);

  const int font_h = font.PixelHeight();
  const int block_h = lines.Count * font_h + kBlockMargin;
  const double free_h = frame_h - block_h;
  const int y0 = int(std::nearbyint(free_h - settings_.NapisBottom * free_h / 100));
  const int x0 = frame_w / 2 - text_width / 2;
  block_ = {x0, y0, text_width, block_h, lines.Count, font_h};

  const int type = settings_.FontType;
  const int outline = (type == stPrzezroczyste || type == stPolprzezroczysteXP)
                          ? int(std::trunc(settings_.EObwodka))
                          : 0;

  // The colour and name start from the subtitle font; line 1's markup may change them.
  font_.Color = configured.Color();
  font_.Name = QString::fromStdString(configured.Name());
  font_.Style = font.Style();

  // Each line with its markup applied and its font and place worked out.
  struct TLine {
    QString Text;
    runtime::TFont Font;
    int X = 0, Y = 0;
  };
  std::vector<TLine> drawn;
  for (int i = 0; i < lines.Count && i < 3; ++i) {
    TLine l;
    l.Text = ApplyMarkup(lines.Line[i], i == 0 ? 1 : 2, font_, configured);
    font.SetName(Utf8(font_.Name));
    font.SetStyle(font_.Style);
    font.SetColor(font_.Color);
    l.Font = font;
    l.X = x0 + (text_width - scratch.Canvas().TextWidth(Utf8(l.Text))) / 2 + 1;
    // Line 1 at y0 + 1, line 2 at y0 + height + 3, line 3 at y0 + 2 × height + 6.
    l.Y = i == 0 ? y0 + 1 : y0 + i * (font_h + kLineGap);
    drawn.push_back(std::move(l));
  }

  runtime::TCanvas& canvas = bitmap.Canvas();
  if (type == stPolprzezroczyste) {
    // Black boxes the size of each line's text cell. The cells of neighbouring lines overlap a
    // little, so all boxes go down before any text: a lower box must not cover the descenders
    // of the line above.
    canvas.Brush().style = runtime::TBrushStyle::bsSolid;
    canvas.Brush().color = runtime::clBlack;
    for (const TLine& l : drawn) {
      canvas.Font() = l.Font;
      const runtime::TSize cell = canvas.TextExtent(Utf8(l.Text));
      canvas.FillRect({l.X, l.Y, l.X + cell.cx, l.Y + cell.cy});
    }
  }
  canvas.Brush().style = runtime::TBrushStyle::bsClear;
  for (const TLine& l : drawn) {
    canvas.Font() = l.Font;
    DrawAATextDIVX(bitmap, l.X, l.Text, QString::fromStdString(l.Font.Name()), l.Font.Color(), 0,
                   outline, l.Y);
  }

  if (!repaint) show_until_ = current_time_ + display_time_ * 1000;
  showing_ = true;
}

void TSubtitleHook::DrawAATextDIVX(runtime::TBitmap& bitmap, int x, const QString& text,
                                   const QString& font_name, runtime::TColor color,
                                   int /*reserved*/, int outline, int y) {
  runtime::TCanvas& canvas = bitmap.Canvas();
  const std::string s = Utf8(text);
  canvas.Font().SetName(Utf8(font_name));
  canvas.Font().SetColor(runtime::clBlack);
  canvas.TextOut(x, y, s);
  canvas.TextOut(x, y + outline, s);
  canvas.TextOut(x + outline, y, s);
  canvas.TextOut(x + outline, y + outline, s);
  canvas.Font().SetColor(color);
  canvas.TextOut(x + outline / 2, y + outline / 2, s);
}

}  // namespace trelvix::subtitles
