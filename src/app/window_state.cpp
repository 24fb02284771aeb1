#include "app/window_state.h"

#include <stdexcept>

#include "app/widgets/mb_button.h"

namespace trelvix::app {
namespace {

constexpr std::optional<bool> kKeep;
constexpr TButtonLook E{true, kKeep, kKeep};       // enabled
constexpr TButtonLook D{false, kKeep, kKeep};      // disabled
constexpr TButtonLook Shown{true, true, kKeep};    // shown and enabled
constexpr TButtonLook ShownD{false, true, kKeep};  // shown, disabled
constexpr TButtonLook H{kKeep, false, kKeep};      // hidden
constexpr TButtonLook EDown{true, kKeep, true};    // enabled, down
constexpr TButtonLook EUp{true, kKeep, false};     // enabled, up
constexpr TButtonLook Keep{kKeep, kKeep, kKeep};   // unchanged
using enum TWindowState;
using enum TQualityLook;

// Columns: Add, AddSub, StartConvert, PauseConvert, ResumeConvert, Play, Pause, Stop, SubOn.
// btnStop stays enabled while converting and paused so that a conversion can be stopped; a run
// that ends without finishing returns to the finished look, so that the next file can be added.
// btnAddSub and the quality lock of a loaded file follow the preview player's opening, which
// the window applies itself.
const std::array<TStateRow, 6> kTable = {{
    {wsIdle, {E, D, ShownD, H, H, D, D, D, H}, qlBothEnabled, 1},
    {wsFileLoaded, {E, Keep, Shown, H, H, EDown, EUp, E, Keep}, qlUnchanged, std::nullopt},
    {wsConverting, {D, D, {false, false, kKeep}, Shown, H, D, D, E, Keep}, qlUnchanged, 0},
    {wsPaused, {D, D, {false, false, kKeep}, H, Shown, D, D, E, Keep}, qlUnchanged, 0},
    {wsFinished, {E, D, ShownD, H, H, D, D, D, H}, qlBothEnabled, 0},
    {wsStopped, {E, D, ShownD, H, H, D, D, D, H}, qlBothEnabled, 0},
}};

void Apply(const TButtonLook& look, TMBButton* button) {
  if (!button) return;
  if (look.Enabled) button->setEnabled(*look.Enabled);
  if (look.Visible) button->setVisible(*look.Visible);
  if (look.Down) button->SetDown(*look.Down);
}

}  // namespace

const std::array<TStateRow, 6>& StateTable() {
  return kTable;
}

const TStateRow& StateRow(TWindowState state) {
  for (const TStateRow& row : kTable)
    if (row.State == state) return row;
  throw std::logic_error("no such window state");
}

void ApplyState(const TStateRow& row, const TStateButtons& buttons) {
  for (int i = 0; i < sbCount; ++i) Apply(row.Buttons[size_t(i)], buttons.Buttons[size_t(i)]);
  if (!buttons.Hi || !buttons.Lo) return;
  switch (row.Quality) {
    case qlUnchanged:
      break;
    case qlBothEnabled:
      buttons.Hi->setEnabled(true);
      buttons.Lo->setEnabled(true);
      break;
  }
}

}  // namespace trelvix::app
