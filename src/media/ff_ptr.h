// unique_ptr owners for the libraries' objects, releasing them through the bound slots.
#pragma once

#include <memory>

#include "media/ffapi.h"

namespace trelvix::media {

struct FrameDeleter {
  void operator()(AVFrame* p) const { ff::av_frame_free(&p); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { ff::av_packet_free(&p); }
};
struct CodecContextDeleter {
  void operator()(AVCodecContext* p) const { ff::avcodec_free_context(&p); }
};
struct CodecParametersDeleter {
  void operator()(AVCodecParameters* p) const { ff::avcodec_parameters_free(&p); }
};
// An input context (opened with avformat_open_input).
struct InputFormatDeleter {
  void operator()(AVFormatContext* p) const { ff::avformat_close_input(&p); }
};
// An output or stand-alone context: closes its own I/O unless the muxer has none or the caller
// supplied a custom one (AVFMT_FLAG_CUSTOM_IO).
struct OutputFormatDeleter {
  void operator()(AVFormatContext* p) const {
    if (p->pb && !(p->flags & AVFMT_FLAG_CUSTOM_IO) &&
        !(p->oformat && (p->oformat->flags & AVFMT_NOFILE)))
      ff::avio_closep(&p->pb);
    ff::avformat_free_context(p);
  }
};
struct SwsDeleter {
  void operator()(SwsContext* p) const { ff::sws_freeContext(p); }
};
struct SwrDeleter {
  void operator()(SwrContext* p) const { ff::swr_free(&p); }
};
struct FilterGraphDeleter {
  void operator()(AVFilterGraph* p) const { ff::avfilter_graph_free(&p); }
};
struct FilterInOutDeleter {
  void operator()(AVFilterInOut* p) const { ff::avfilter_inout_free(&p); }
};
struct BsfDeleter {
  void operator()(AVBSFContext* p) const { ff::av_bsf_free(&p); }
};
struct AudioFifoDeleter {
  void operator()(AVAudioFifo* p) const { ff::av_audio_fifo_free(p); }
};
struct AvFreeDeleter {
  void operator()(void* p) const { ff::av_free(p); }
};
struct DictDeleter {
  void operator()(AVDictionary* p) const { ff::av_dict_free(&p); }
};

using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using CodecParametersPtr = std::unique_ptr<AVCodecParameters, CodecParametersDeleter>;
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FilterInOutDeleter>;
using BsfPtr = std::unique_ptr<AVBSFContext, BsfDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
template <class T>
using AvMemPtr = std::unique_ptr<T, AvFreeDeleter>;

// AVDictionary* owned by RAII; pass &d.raw to library calls that fill or consume it.
class Dict {
 public:
  Dict() = default;
  Dict(const Dict&) = delete;
  Dict& operator=(const Dict&) = delete;
  Dict(Dict&& o) noexcept : raw(o.raw) { o.raw = nullptr; }
  Dict& operator=(Dict&& o) noexcept {
    std::swap(raw, o.raw);
    return *this;
  }
  ~Dict() {
    if (raw) ff::av_dict_free(&raw);
  }
  AVDictionary* raw = nullptr;
};

inline FramePtr MakeFrame() {
  return FramePtr(ff::av_frame_alloc());
}
inline PacketPtr MakePacket() {
  return PacketPtr(ff::av_packet_alloc());
}

}  // namespace trelvix::media
