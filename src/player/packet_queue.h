// TPacketQueue: the packets of one stream between the reader and a decoder.
//
// Besides packets a queue carries the flush marker (put after every seek: the decoder flushes
// its codec when it meets it) and empty packets (no data, size 0: the reader's end-of-input
// signal to the video decoder). Size counts the packets' bytes plus one node's size per entry.
// Any thread; Get may block until an entry arrives or the queue is aborted.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "media/ff_ptr.h"

namespace trelvix::player {

struct TQueuedPacket {
  media::PacketPtr pkt;  // null for the flush marker
  bool flush = false;
  int serial = 0;  // of a flush marker: the seek it follows
  bool IsFlush() const { return flush; }
  // An end-of-input packet: no data, size 0.
  bool IsEmpty() const { return !flush && pkt && pkt->data == nullptr && pkt->size == 0; }
};

class TPacketQueue {
 public:
  static constexpr int kNodeSize = static_cast<int>(sizeof(TQueuedPacket) + 2 * sizeof(void*));

  TPacketQueue() = default;
  TPacketQueue(const TPacketQueue&) = delete;
  TPacketQueue& operator=(const TPacketQueue&) = delete;

  // Clears the queue and its abort mark, then puts the flush marker (what every queue receives
  // right after its set-up).
  void Init(int serial = 0);
  // Takes the packet's reference (no copy of its data). -1 when the packet cannot be kept or the
  // queue has been aborted (the packet is dropped).
  int Put(media::PacketPtr pkt);
  int PutFlush(int serial = 0);
  // An empty packet of the given stream.
  int PutEmpty(int stream_index);
  // 1 and the entry; 0 when empty and not blocking; -1 when aborted.
  int Get(TQueuedPacket& out, bool block);
  void Flush();
  // Wakes every waiter; Get returns -1 from now on until the next Init.
  void Abort();
  // Flush (the queue stays usable after a new Init).
  void End() { Flush(); }

  int Size() const;
  int Count() const;
  bool Aborted() const;

 private:
  int PutEntry(TQueuedPacket entry);

  mutable std::mutex FMutex;
  std::condition_variable FCond;
  std::deque<TQueuedPacket> FEntries;  // Guarded by FMutex.
  int FSize = 0;                       // Guarded by FMutex.
  bool FAbort = false;                 // Guarded by FMutex.
};

}  // namespace trelvix::player
