// The main window's button states: which buttons are enabled, shown and down in each state of
// the workflow, as one table, and the one function that applies a row of it.
#pragma once

#include <array>
#include <optional>

namespace trelvix::app {

class TMBButton;

enum class TWindowState {
  wsIdle,        // at start: nothing loaded
  wsFileLoaded,  // a task was added (Add file, a drop, the command line)
  wsConverting,
  wsPaused,
  wsFinished,  // the task finished
  wsStopped,   // the task ended without finishing: an error or a stop
};

// The buttons of the table, in column order.
enum TStateButton {
  sbAdd,
  sbAddSub,
  sbStartConvert,
  sbPauseConvert,
  sbResumeConvert,
  sbPlay,
  sbPause,
  sbStop,
  sbSubOn,
  sbCount
};

// One cell. An empty member leaves that property as it is.
struct TButtonLook {
  std::optional<bool> Enabled;
  std::optional<bool> Visible;
  std::optional<bool> Down;
};

// The quality pair (btnHi, btnLo).
enum class TQualityLook {
  qlUnchanged,
  qlBothEnabled,
};

struct TStateRow {
  TWindowState State;
  std::array<TButtonLook, sbCount> Buttons;
  TQualityLook Quality;
  std::optional<int> PreviewMode;  // 1: the player buttons act on the player, 0: on the encoder
};

const std::array<TStateRow, 6>& StateTable();
const TStateRow& StateRow(TWindowState state);

struct TStateButtons {
  std::array<TMBButton*, sbCount> Buttons{};
  TMBButton* Hi = nullptr;
  TMBButton* Lo = nullptr;
};

// Applies the row's cells to the buttons; the preview mode is the caller's.
void ApplyState(const TStateRow& row, const TStateButtons& buttons);

}  // namespace trelvix::app
