// Burning subtitles into frames: the per-frame handler with its playback state (the next
// timetable row, the queue of subtitles waiting to be shown, the one on screen and until when),
// PiszTXT, which lays out and draws one subtitle, and DrawAATextDIVX, which draws one line with
// its outline. The main window's video hook handler and the headless converter both use it.
//
// A subtitle is laid out and drawn once, when it is first shown, into an overlay of just its
// block (subtitles/subtitle_overlay.h); while it stays on screen the overlay is laid onto each
// frame. A new subtitle, another frame size or new settings (StartConversion) draw it again.
// Prepare tells, before a frame is handed over as a bitmap, where on it the subtitle goes (and
// whether one goes at all), so that frames without one need no conversion:
//   query:  area = hook.Prepare(width, height, pts, number, stop);  // empty: nothing to draw
//   event:  update = hook.Process(bitmap, pts, number, stop);       // lays on what was prepared
// or, when the caller lays the ready picture onto the frame itself, PreparedOverlay() after
// Prepare, and no Process.
//
// Threads: StartConversion and the setters run on the main thread while no conversion runs;
// Process runs on the conversion's worker thread, which alone uses the playback state during a
// conversion. The handler works on its own copies of the timetable and the settings, so the
// options window may change them meanwhile. SetSubtitlesOn may be called from any thread.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "runtime/bitmap.h"
#include "subtitles/subtitle_layout.h"
#include "subtitles/subtitle_overlay.h"
#include "subtitles/subtitle_settings.h"
#include "subtitles/timetable.h"

namespace trelvix::subtitles {

// One subtitle waiting to be shown.
struct TKolejkaTXT {
  QString Text;
  // Milliseconds from this subtitle's start to the next row's start; 0 when there is no next
  // row. The reading time uses it to hold a lone subtitle longer.
  int32_t Gap = 0;
};

// Where the last subtitle went on the frame (what the scratch bitmap of a drawing holds).
struct TSubtitleBlock {
  int Left = 0;    // block left (centred)
  int Top = 0;     // block top
  int Width = 0;   // text width: widest line + 25
  int Height = 0;  // lines × character height + 15
  int Lines = 0;
  int FontHeight = 0;  // character height in pixels after the fit
};

class TSubtitleHook {
 public:
  // The presentation time of a frame that has none (the libraries' no-value time stamp).
  static constexpr int64_t kNoPts = INT64_MIN;

  TSubtitleHook() = default;
  TSubtitleHook(const TSubtitleHook&) = delete;
  TSubtitleHook& operator=(const TSubtitleHook&) = delete;

  // A conversion starts: takes copies of the timetable and settings; next row 1, empty queue,
  // nothing on screen. frame_rate (frames per second, 0 for none) places frames that come
  // without a presentation time by their number.
  void StartConversion(const TSubtitleTimetable& timetable, const TSubtitleSettings& settings,
                       double frame_rate = 0);

  // The subtitle switch (the main window's btnSubOn shown and down). When it is off, Process
  // asks for the hook to stop for the rest of the conversion.
  void SetSubtitlesOn(bool on) { subtitles_on_.store(on, std::memory_order_relaxed); }
  bool SubtitlesOn() const { return subtitles_on_.load(std::memory_order_relaxed); }

  // One frame: takes the rows that have become due, decides what is on screen and draws it into
  // the bitmap (a 24-bit frame, drawn in place). Returns true when the bitmap was changed (the
  // caller sets Update). Sets stop_hook when the subtitle switch is off. A failure while drawing
  // a new subtitle is swallowed (it is tried again on the next frame); other failures throw.
  // When the same frame was just prepared, it only lays on what Prepare decided.
  bool Process(runtime::TBitmap& bitmap, int64_t pts_us, int32_t frame_number, bool& stop_hook);

  // The per-frame step of Process for a frame of width x height, without drawing: takes the due
  // rows, decides what is on screen and draws a new subtitle's overlay. Returns the part of the
  // frame the subtitle covers, empty when this frame gets none. Failures as for Process.
  runtime::TRect Prepare(int width, int height, int64_t pts_us, int32_t frame_number,
                         bool& stop_hook);
  // The subtitle that the frame prepared last gets, ready to be laid on by whoever holds the
  // frame (in place of Process, which would lay the same picture onto its bitmap; the playback
  // state needs only Prepare); null when that frame gets none. Valid until the next Prepare,
  // Process or StartConversion.
  const runtime::TInkOverlay* PreparedOverlay() const {
    return prepared_ && !overlay_.Empty() ? &overlay_.Picture() : nullptr;
  }

  // Draws text into the bitmap. repaint false: a new subtitle, whose display time is worked out
  // and whose end time is set; true: the current one again, timing unchanged.
  void PiszTXT(const QString& text, int32_t gap, bool repaint, runtime::TBitmap& bitmap);

  // Draws one line at (x, y): four black copies offset by outline pixels, then the text in
  // colour at (x + outline div 2, y + outline div 2), with the bitmap's current font size and
  // style and the given font name. reserved is not used.
  static void DrawAATextDIVX(runtime::TBitmap& bitmap, int x, const QString& text,
                             const QString& font_name, runtime::TColor color, int reserved,
                             int outline, int y);

  // Playback state (worker thread during a conversion, else main thread).
  int NextRow() const { return next_row_; }
  const std::deque<TKolejkaTXT>& Queue() const { return queue_; }
  bool Showing() const { return showing_; }
  int64_t ShowUntil() const { return show_until_; }
  int64_t CurrentTime() const { return current_time_; }
  const QString& CurrentText() const { return current_text_; }
  // The display time of the subtitle on screen, milliseconds.
  int64_t DisplayTime() const { return display_time_; }
  const TSubtitleBlock& LastBlock() const { return block_; }
  // Draws the subtitle laid out last straight onto the frame, as palette frames get it; the
  // overlay gives other frames the same picture.
  void DrawDirectly(runtime::TBitmap& frame) const { DrawLines(frame, 0, 0); }
  // How often a subtitle was laid out and drawn into the overlay.
  int Renders() const { return overlay_.Renders(); }
  const TSubtitleSettings& Settings() const { return settings_; }

 private:
  struct TRow {
    std::optional<int64_t> KeyMs;  // nothing for a key that is not a number: never due
    QString Text;
  };
  // One line of a laid-out subtitle: its text after markup, its font and where it goes.
  struct TLine {
    QString Text;
    runtime::TFont Font;
    int X = 0, Y = 0;
  };
  int32_t GapAfter(size_t row) const;
  // PiszTXT's timing and layout: a new subtitle gets its display time; the overlay is drawn
  // when the text or the frame size differs from the last drawing.
  void Show(const QString& text, int32_t gap, bool repaint, int width, int height);
  // Lays the text out for a frame of width x height into lines_ and block_.
  void LayOut(const QString& text, int frame_w, int frame_h);
  // Draws lines_ (boxes first, then the outlined text) shifted by (dx, dy): straight onto the
  // target, or, with a layer, each text once and laid down as often as the outline needs.
  void DrawLines(runtime::TBitmap& target, int dx, int dy,
                 const TSubtitleOverlay::TLayer* layer = nullptr) const;
  // Lays the subtitle on screen onto the frame; false when it has no ink.
  bool Draw(runtime::TBitmap& bitmap);

  std::vector<TRow> rows_;  // data rows; the timetable's row i is rows_[i - 1]
  TSubtitleSettings settings_;
  double frame_rate_ = 0;
  std::atomic<bool> subtitles_on_{false};

  int next_row_ = 1;
  std::deque<TKolejkaTXT> queue_;
  QString current_text_;
  bool showing_ = false;
  int64_t show_until_ = 0;
  int64_t current_time_ = 0;
  int64_t display_time_ = 4000;
  TFontState font_;
  TSubtitleBlock block_;

  // The subtitle drawn last, and for which frame size.
  std::vector<TLine> lines_;
  int outline_ = 0;
  TSubtitleOverlay overlay_;
  QString overlay_text_;
  int overlay_w_ = 0, overlay_h_ = 0;
  bool overlay_valid_ = false;
  // The frame that Prepare handled last, until Process lays its subtitle on.
  bool prepared_ = false;
  int64_t prepared_pts_ = 0;
  int32_t prepared_number_ = 0;
};

}  // namespace trelvix::subtitles
