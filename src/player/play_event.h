// TPlayEvent: the ring of position and state items that the event thread hands to the host.
//
// Ten slots; Header is the oldest item, Tailer the slot after the newest, so at most nine items
// are held and a tenth drops the oldest. A position item that follows a position item replaces
// it, so a slow host sees only the newest position; state and quit items always take a slot of
// their own, so no state change is lost between two deliveries. Any thread.
#pragma once

#include <cstdint>
#include <mutex>

#include "runtime/event.h"

namespace trelvix::player {

enum TPlayEventKind : int32_t {
  pekNone = 0,
  pekPosition = 1,  // Value: microseconds
  pekState = 2,     // Value: TPlayState
  pekQuit = 3,      // no value
};

struct TPlayEventItem {
  int32_t Kind = pekNone;
  int64_t Value = 0;
};

class TPlayEvent {
 public:
  static constexpr int kSlots = 10;

  void Post(TPlayEventItem item);
  // The oldest item, or one of kind pekNone when the ring is empty.
  TPlayEventItem Pop();
  int Count() const;
  void Clear();
  // Set while the ring holds items.
  runtime::TEvent& Event() { return FEvent; }

 private:
  mutable std::mutex FLock;
  int FHeader = 0;                 // Guarded by FLock.
  int FTailer = 0;                 // Guarded by FLock.
  TPlayEventItem FEvents[kSlots];  // Guarded by FLock.
  runtime::TEvent FEvent{false};
};

}  // namespace trelvix::player
