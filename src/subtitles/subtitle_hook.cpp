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

// One line with its outline: four black copies, `outline` pixels apart, then the text in its
// colour in the middle of them. text_out(x, y, colour) makes one drawing.
template <class TextOut>
void OutlinedText(int x, int y, int outline, runtime::TColor color, TextOut&& text_out) {
  text_out(x, y, runtime::clBlack);
  text_out(x, y + outline, runtime::clBlack);
  text_out(x + outline, y, runtime::clBlack);
  text_out(x + outline, y + outline, runtime::clBlack);
  text_out(x + outline / 2, y + outline / 2, color);
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
  // The settings may have changed: the next subtitle is drawn anew.
  lines_.clear();
  overlay_.Clear();
  overlay_valid_ = false;
  prepared_ = false;
}

int32_t TSubtitleHook::GapAfter(size_t row) const {
  if (row + 1 >= rows_.size() || !rows_[row].KeyMs || !rows_[row + 1].KeyMs) return 0;
  const int64_t gap = *rows_[row + 1].KeyMs - *rows_[row].KeyMs;
  return int32_t(std::clamp<int64_t>(gap, std::numeric_limits<int32_t>::min(),
                                     std::numeric_limits<int32_t>::max()));
}

bool TSubtitleHook::Process(runtime::TBitmap& bitmap, int64_t pts_us, int32_t frame_number,
                            bool& stop_hook) {
  const bool prepared = prepared_ && prepared_pts_ == pts_us && prepared_number_ == frame_number &&
                        overlay_w_ == bitmap.Width() && overlay_h_ == bitmap.Height();
  prepared_ = false;
  if (!prepared) {
    const runtime::TRect area =
        Prepare(bitmap.Width(), bitmap.Height(), pts_us, frame_number, stop_hook);
    prepared_ = false;
    if (area.Width() <= 0) return false;
  }
  return Draw(bitmap);
}

runtime::TRect TSubtitleHook::Prepare(int width, int height, int64_t pts_us, int32_t frame_number,
                                      bool& stop_hook) {
  prepared_ = false;
  if (!SubtitlesOn()) {
    stop_hook = true;
    return {};
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
    Show(current_text_, 0, true, width, height);
  } else if (queue_.empty()) {
    return {};
  } else {
    try {
      current_text_ = queue_.front().Text;
      Show(current_text_, queue_.front().Gap, false, width, height);
      queue_.pop_front();
    } catch (const std::exception&) {
      // The entry stays first in the queue and is tried again on the next frame.
      return {};
    }
  }
  prepared_ = true;
  prepared_pts_ = pts_us;
  prepared_number_ = frame_number;
  return overlay_.Area();
}

void TSubtitleHook::PiszTXT(const QString& text, int32_t gap, bool repaint,
                            runtime::TBitmap& bitmap) {
  Show(text, gap, repaint, bitmap.Width(), bitmap.Height());
  Draw(bitmap);
}

void TSubtitleHook::Show(const QString& text, int32_t gap, bool repaint, int width, int height) {
  if (!repaint) {
    showing_ = false;
    display_time_ = ReadingTime(text, int(queue_.size()), gap, settings_);
  }
  if (!overlay_valid_ || text != overlay_text_ || width != overlay_w_ || height != overlay_h_) {
    overlay_valid_ = false;
    LayOut(text, width, height);
    // Room around the block for what reaches past it: the outline, italics, the cell of the last
    // line below the block; the overlay keeps only the part with ink.
    const int margin = block_.FontHeight + outline_ + 8;
    const runtime::TRect area{block_.Left - margin, block_.Top - margin,
                              block_.Left + block_.Width + margin,
                              block_.Top + block_.Height + margin};
    overlay_.Render(
        area, width, height,
        [this](runtime::TBitmap& layer, int dx, int dy, const TSubtitleOverlay::TLayer& lay) {
          DrawLines(layer, dx, dy, &lay);
        });
    overlay_text_ = text;
    overlay_w_ = width;
    overlay_h_ = height;
    overlay_valid_ = true;
  }
  if (!repaint) show_until_ = current_time_ + display_time_ * 1000;
  showing_ = true;
}

void TSubtitleHook::LayOut(const QString& text, int frame_w, int frame_h) {
  const runtime::TFont& configured = settings_.PanelWzorFont;

  // The scratch bitmap measures text with the drawing font; it is never drawn onto the frame.
  runtime::TBitmap scratch;
  runtime::TFont& font = scratch.Canvas().Font();
  font = configured;
  font.SetStyle(runtime::fsBold);

  TSubtitleLines lines = SplitSubtitleLines(text);

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
  outline_ = (type == stPrzezroczyste || type == stPolprzezroczysteXP)
                 ? int(std::trunc(settings_.EObwodka))
                 : 0;

  // The colour and name start from the subtitle font; line 1's markup may change them.
  font_.Color = configured.Color();
  font_.Name = QString::fromStdString(configured.Name());
  font_.Style = font.Style();

  // Each line with its markup applied and its font and place worked out.
  lines_.clear();
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
    lines_.push_back(std::move(l));
  }
}

void TSubtitleHook::DrawLines(runtime::TBitmap& target, int dx, int dy,
                              const TSubtitleOverlay::TLayer* layer) const {
  runtime::TCanvas& canvas = target.Canvas();
  if (settings_.FontType == stPolprzezroczyste) {
    // Black boxes the size of each line's text cell. The cells of neighbouring lines overlap a
    // little, so all boxes go down before any text: a lower box must not cover the descenders
    // of the line above.
    canvas.Brush().style = runtime::TBrushStyle::bsSolid;
    canvas.Brush().color = runtime::clBlack;
    for (const TLine& l : lines_) {
      canvas.Font() = l.Font;
      const runtime::TSize cell = canvas.TextExtent(Utf8(l.Text));
      canvas.FillRect({l.X + dx, l.Y + dy, l.X + dx + cell.cx, l.Y + dy + cell.cy});
      if (layer) {
        layer->Lay(runtime::clBlack, 0, 0);
        layer->Clear();
      }
    }
  }
  canvas.Brush().style = runtime::TBrushStyle::bsClear;
  for (const TLine& l : lines_) {
    canvas.Font() = l.Font;
    const std::string text = Utf8(l.Text);
    const int x = l.X + dx, y = l.Y + dy;
    if (!layer) {
      OutlinedText(x, y, outline_, l.Font.Color(), [&](int at_x, int at_y, runtime::TColor c) {
        canvas.Font().SetColor(c);
        canvas.TextOut(at_x, at_y, text);
      });
      continue;
    }
    // The copies of the outline differ only in place and colour: the text is drawn once.
    canvas.TextOut(x, y, text);
    OutlinedText(x, y, outline_, l.Font.Color(),
                 [&](int at_x, int at_y, runtime::TColor c) { layer->Lay(c, at_x - x, at_y - y); });
    layer->Clear();
  }
}

bool TSubtitleHook::Draw(runtime::TBitmap& bitmap) {
  if (!overlay_.BlendOnto(bitmap)) {
    // Frames of fewer colours take the drawings themselves.
    if (overlay_.Empty()) return false;
    DrawDirectly(bitmap);
    return true;
  }
  // The frame's canvas ends as drawing onto it would leave it: the last line's font, no brush.
  runtime::TCanvas& canvas = bitmap.Canvas();
  if (!lines_.empty()) canvas.Font() = lines_.back().Font;
  if (settings_.FontType == stPolprzezroczyste) canvas.Brush().color = runtime::clBlack;
  canvas.Brush().style = runtime::TBrushStyle::bsClear;
  return true;
}

void TSubtitleHook::DrawAATextDIVX(runtime::TBitmap& bitmap, int x, const QString& text,
                                   const QString& font_name, runtime::TColor color,
                                   int /*reserved*/, int outline, int y) {
  runtime::TCanvas& canvas = bitmap.Canvas();
  const std::string s = Utf8(text);
  canvas.Font().SetName(Utf8(font_name));
  OutlinedText(x, y, outline, color, [&](int at_x, int at_y, runtime::TColor c) {
    canvas.Font().SetColor(c);
    canvas.TextOut(at_x, at_y, s);
  });
}

}  // namespace trelvix::subtitles
