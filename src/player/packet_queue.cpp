#include "player/packet_queue.h"

namespace trelvix::player {

void TPacketQueue::Init(int serial) {
  {
    std::lock_guard g(FMutex);
    FEntries.clear();
    FSize = 0;
    FAbort = false;
  }
  PutFlush(serial);
}

int TPacketQueue::PutEntry(TQueuedPacket entry) {
  {
    std::lock_guard g(FMutex);
    if (FAbort) return -1;
    FSize += (entry.pkt ? entry.pkt->size : 0) + kNodeSize;
    FEntries.push_back(std::move(entry));
  }
  FCond.notify_one();
  return 0;
}

int TPacketQueue::Put(media::PacketPtr pkt) {
  if (!pkt) return -1;
  // Packets read by the demuxer are reference counted already; make sure ours is.
  if (pkt->data && !pkt->buf && ff::av_packet_make_refcounted(pkt.get()) < 0) return -1;
  TQueuedPacket e;
  e.pkt = std::move(pkt);
  return PutEntry(std::move(e));
}

int TPacketQueue::PutFlush(int serial) {
  TQueuedPacket e;
  e.flush = true;
  e.serial = serial;
  return PutEntry(std::move(e));
}

int TPacketQueue::PutEmpty(int stream_index) {
  media::PacketPtr pkt = media::MakePacket();
  if (!pkt) return -1;
  pkt->data = nullptr;
  pkt->size = 0;
  pkt->stream_index = stream_index;
  TQueuedPacket e;
  e.pkt = std::move(pkt);
  return PutEntry(std::move(e));
}

int TPacketQueue::Get(TQueuedPacket& out, bool block) {
  std::unique_lock g(FMutex);
  for (;;) {
    if (FAbort) return -1;
    if (!FEntries.empty()) {
      out = std::move(FEntries.front());
      FEntries.pop_front();
      FSize -= (out.pkt ? out.pkt->size : 0) + kNodeSize;
      return 1;
    }
    if (!block) return 0;
    FCond.wait(g);
  }
}

void TPacketQueue::Flush() {
  std::deque<TQueuedPacket> old;
  {
    std::lock_guard g(FMutex);
    old.swap(FEntries);
    FSize = 0;
  }
}

void TPacketQueue::Abort() {
  {
    std::lock_guard g(FMutex);
    FAbort = true;
  }
  FCond.notify_all();
}

int TPacketQueue::Size() const {
  std::lock_guard g(FMutex);
  return FSize;
}

int TPacketQueue::Count() const {
  std::lock_guard g(FMutex);
  return static_cast<int>(FEntries.size());
}

bool TPacketQueue::Aborted() const {
  std::lock_guard g(FMutex);
  return FAbort;
}

}  // namespace trelvix::player
