#include "engine/video_encode_worker.h"

#include "media/ff_load.h"

namespace trelvix::engine {

TVideoEncodeWorker::TVideoEncodeWorker(AVCodecContext* enc)
    : FEnc(enc), FPackets(8), FReceived(media::MakePacket()) {
  for (auto& s : FSlots) s = media::MakeFrame();
  for (auto& s : FSources) s = media::MakeFrame();
  for (auto& s : FBands) s = media::MakeFrame();
  for (auto& p : FPackets) p = media::MakePacket();
  FThread = std::thread([this] { Run(); });
}

TVideoEncodeWorker::~TVideoEncodeWorker() {
  {
    std::lock_guard g(FLock);
    FAbort = true;
  }
  FWake.notify_all();
  FThread.join();
}

bool TVideoEncodeWorker::Submit(const AVFrame* frame, const AVFrame* source, const TScaleSpec* spec,
                                const TPictureBand* band) {
  std::unique_lock g(FLock);
  FDone.wait(g, [this] { return FCount < kDepth || FFailed; });
  if (FFailed) return false;
  const size_t index = (FHead + FCount) % kDepth;
  AVFrame* slot = FSlots[index].get();
  g.unlock();  // the worker only reads queued slots: this one is the conversion thread's
  // The slot keeps its buffer from picture to picture; a new one only for a new size or format.
  if (slot->width != frame->width || slot->height != frame->height ||
      slot->format != frame->format || !slot->buf[0]) {
    ff::av_frame_unref(slot);
    slot->width = frame->width;
    slot->height = frame->height;
    slot->format = frame->format;
    if (ff::av_frame_get_buffer(slot, 0) < 0) return false;
  } else if (ff::av_frame_make_writable(slot) < 0) {
    return false;
  }
  if (source) {
    ff::av_frame_unref(FSources[index].get());
    ff::av_frame_unref(FBands[index].get());
    if (ff::av_frame_ref(FSources[index].get(), source) < 0) return false;
    if (band && band->band && ff::av_frame_ref(FBands[index].get(), band->band) < 0) return false;
    FSpecs[index] = *spec;
    FBandTops[index] = band ? band->top : 0;
  } else if (ff::av_frame_copy(slot, frame) < 0) {
    return false;
  }
  if (ff::av_frame_copy_props(slot, frame) < 0) return false;
  g.lock();
  ++FCount;
  g.unlock();
  FWake.notify_one();
  return true;
}

bool TVideoEncodeWorker::Finish() {
  std::unique_lock g(FLock);
  FEnding = true;
  FWake.notify_one();
  FDone.wait(g, [this] { return FEnded || FFailed; });
  return !FFailed;
}

bool TVideoEncodeWorker::TakePacket(AVPacket* pkt) {
  std::lock_guard g(FLock);
  if (FPacketCount == 0) return false;
  ff::av_packet_move_ref(pkt, FPackets[FPacketHead].get());
  FPacketHead = (FPacketHead + 1) % FPackets.size();
  --FPacketCount;
  return true;
}

bool TVideoEncodeWorker::Failed() const {
  std::lock_guard g(FLock);
  return FFailed;
}

void TVideoEncodeWorker::Run() {
  std::unique_lock g(FLock);
  for (;;) {
    FWake.wait(g, [this] { return FAbort || FCount > 0 || FEnding; });
    if (FAbort) return;
    const size_t head = FHead;  // changed by this thread only
    AVFrame* frame = FCount > 0 ? FSlots[head].get() : nullptr;
    AVFrame* source = frame ? FSources[head].get() : nullptr;
    g.unlock();
    bool ok = true;
    if (source && source->buf[0]) {
      AVFrame* band = FBands[head].get();
      ok = FScaler.Scale(FSpecs[head], source, frame, band->buf[0] ? band : nullptr,
                         FBandTops[head]);
      ff::av_frame_unref(source);
      ff::av_frame_unref(band);
    }
    ok = ok && Encode(frame);
    g.lock();
    if (!ok) FFailed = true;
    if (frame) {
      FHead = (FHead + 1) % kDepth;
      --FCount;
    } else {
      FEnded = true;
    }
    FDone.notify_all();
    if (FFailed || FEnded) return;
  }
}

bool TVideoEncodeWorker::Encode(AVFrame* frame) {
  int ret = ff::avcodec_send_frame(FEnc, frame);
  if (ret < 0 && ret != AVERROR_EOF) return false;
  for (;;) {
    ret = ff::avcodec_receive_packet(FEnc, FReceived.get());
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return true;
    if (ret < 0) return false;
    std::lock_guard g(FLock);
    if (FPacketCount == FPackets.size()) {
      // Grow the ring (rare: the conversion thread takes packets after every picture), keeping
      // the order: the waiting packets first.
      std::vector<media::PacketPtr> grown;
      grown.reserve(FPackets.size() * 2);
      for (size_t i = 0; i < FPacketCount; ++i)
        grown.push_back(std::move(FPackets[(FPacketHead + i) % FPackets.size()]));
      while (grown.size() < FPackets.size() * 2) grown.push_back(media::MakePacket());
      FPackets = std::move(grown);
      FPacketHead = 0;
    }
    ff::av_packet_move_ref(FPackets[(FPacketHead + FPacketCount) % FPackets.size()].get(),
                           FReceived.get());
    ++FPacketCount;
  }
}

}  // namespace trelvix::engine
