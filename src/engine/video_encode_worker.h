// A video encoder run on a thread of its own, so that decoding and encoding overlap: the
// conversion thread hands pictures over through a small bounded queue of frames (each a copy
// into a buffer the queue owns and reuses) and takes the encoded packets back in their order,
// to write them itself.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/overlay_blend.h"
#include "engine/picture_scaler.h"
#include "media/ff_ptr.h"
#include "media/ffapi.h"

namespace trelvix::engine {

class TVideoEncodeWorker {
 public:
  // The encoder belongs to the worker from now until it is destroyed or has finished.
  explicit TVideoEncodeWorker(AVCodecContext* enc);
  TVideoEncodeWorker(const TVideoEncodeWorker&) = delete;
  TVideoEncodeWorker& operator=(const TVideoEncodeWorker&) = delete;
  ~TVideoEncodeWorker();  // gives up what is queued and waits for the thread

  // Queues a copy of the picture; waits while the queue is full. False once the encoder failed
  // or the picture could not be copied. With a source, `frame` gives only the size, format and
  // properties of the picture, whose pixels the worker scales from `source` as `spec` says
  // (holding the source by reference until then), so that scaling runs beside the conversion
  // thread; a band replaces rows of the source (held by reference too).
  bool Submit(const AVFrame* frame, const AVFrame* source = nullptr,
              const TScaleSpec* spec = nullptr, const TPictureBand* band = nullptr);
  // Sends the end of the stream and waits until the encoder has given every packet. False when
  // the encoder failed.
  bool Finish();
  // Moves the next encoded packet, in the encoder's order, into pkt; false when none is ready.
  bool TakePacket(AVPacket* pkt);
  bool Failed() const;

 private:
  static constexpr size_t kDepth = 3;  // pictures queued ahead of the encoder
  void Run();
  bool Encode(AVFrame* frame);  // one send (null: the end) and every packet it gives

  AVCodecContext* FEnc;
  std::array<media::FramePtr, kDepth> FSlots;
  // Per slot, the picture to scale into it (empty when the slot holds its pixels) and how.
  std::array<media::FramePtr, kDepth> FSources, FBands;
  std::array<TScaleSpec, kDepth> FSpecs;
  std::array<int, kDepth> FBandTops{};
  TPictureScaler FScaler;                  // the worker's own
  size_t FHead = 0, FCount = 0;            // the queued slots, in order, as a ring
  std::vector<media::PacketPtr> FPackets;  // ring of encoded packets, grown when full
  size_t FPacketHead = 0, FPacketCount = 0;
  media::PacketPtr FReceived;  // the packet being received on the worker
  bool FEnding = false, FEnded = false, FFailed = false, FAbort = false;
  mutable std::mutex FLock;
  std::condition_variable FWake;  // to the worker: a picture, the end or abort
  std::condition_variable FDone;  // to the conversion thread: a slot free, a packet, the end
  std::thread FThread;
};

}  // namespace trelvix::engine
