#include "player/play_event.h"

namespace trelvix::player {

void TPlayEvent::Post(TPlayEventItem item) {
  std::lock_guard g(FLock);
  const bool empty = FHeader == FTailer;
  const int newest = (FTailer + kSlots - 1) % kSlots;
  if (empty || FEvents[newest].Kind != item.Kind || item.Kind != pekPosition) {
    FTailer = (FTailer + 1) % kSlots;
    if (FTailer == FHeader) FHeader = (FHeader + 1) % kSlots;  // the oldest item is dropped
  }
  FEvents[(FTailer + kSlots - 1) % kSlots] = item;
  FEvent.Set();
}

TPlayEventItem TPlayEvent::Pop() {
  std::lock_guard g(FLock);
  if (FHeader == FTailer) return {};
  const TPlayEventItem item = FEvents[FHeader];
  FHeader = (FHeader + 1) % kSlots;
  if (FHeader == FTailer) FEvent.Reset();
  return item;
}

int TPlayEvent::Count() const {
  std::lock_guard g(FLock);
  return (FTailer - FHeader + kSlots) % kSlots;
}

void TPlayEvent::Clear() {
  std::lock_guard g(FLock);
  FHeader = FTailer = 0;
  FEvent.Reset();
}

}  // namespace trelvix::player
