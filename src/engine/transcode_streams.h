// The per-run tables of a conversion: one record per input file, per input stream and per output
// stream. They live while Transcode runs and are freed by its tear-down (the destructor of
// TTranscodeState), also when a set-up or pipeline step raises.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "decoder/rgb_convert.h"
#include "engine/deinterlacer.h"
#include "engine/ffmpeg.h"
#include "engine/overlay_blend.h"
#include "engine/picture_rotation.h"
#include "engine/picture_scaler.h"
#include "engine/video_encode_worker.h"
#include "media/ff_ptr.h"
#include "media/ff_utils.h"
#include "media/ffapi.h"

namespace trelvix::engine {

// The name of a media type as the messages show it ("Video", "Audio"...).
inline std::string TypeName(AVMediaType t) {
  return media::MediaTypeName(static_cast<int>(t));
}

struct TAVInputFile {
  bool eof_reached = false;
  int ist_index = 0;  // index of its first stream in the input stream table
  int nb_streams = 0;
};

struct TAVInputStream {
  int file_index = 0;
  int index = 0;  // stream index in its file
  AVStream* st = nullptr;
  bool discard = true;  // still available for automatic mapping
  bool decoding_needed = false;
  media::CodecContextPtr dec;   // the decoder, when decoding is needed
  int frame_number = 0;         // decoded pictures, the input hook's frame number
  int64_t start = 0;            // wall clock at start, for rate emulation
  int64_t next_pts = kNoValue;  // microseconds
  int64_t pts = 0;              // microseconds
  int64_t next_dts = kNoValue;  // where the next packet's decoding time is expected (us)
  bool is_start = true;
  bool showed_multi_packet_warning = false;
  bool is_past_recording_time = false;
  bool decoder_flushed = false;
  float quality = 0;
  media::FramePtr frame;  // decoded frame, reused
  // Video: the turn of the stream's display matrix and the turned picture.
  TPictureRotation rotation;
  media::FramePtr rotated;
  // Decoded audio as interleaved signed 16-bit (the form the hooks, volume and sync rules use).
  media::SwrPtr to_s16;
  int to_s16_rate = 0, to_s16_channels = 0, to_s16_fmt = -1;
};

struct TAVOutputStream {
  int file_index = 0;
  int index = 0;
  int source_index = 0;  // into the input stream table
  int sync_index = 0;    // input stream used for synchronisation
  AVStream* st = nullptr;
  TOutputStreamSetup* setup = nullptr;  // the stream as OpenOutputFile made it
  AVCodecContext* enc = nullptr;        // setup->codec
  bool encoding_needed = false;
  bool opened = false;  // the encoder is open
  int frame_number = 0;
  int64_t sync_opts = 0;  // output frames (video) or samples (audio) written
  bool show_fps = true;
  int64_t last_pts_us = 0;  // time reached by the stream, for input choice and reports

  // Video.
  bool video_resample = false;
  bool video_crop = false;
  int topBand = 0, bottomBand = 0, leftBand = 0, rightBand = 0;
  int original_topBand = 0, original_bottomBand = 0, original_leftBand = 0, original_rightBand = 0;
  int original_width = 0, original_height = 0;
  int resample_width = 0, resample_height = 0, resample_pix_fmt = -1;
  TPictureScaler scaler;      // pictures to the encoder's size and format, on this thread
  media::FramePtr pict_tmp;   // the scaled picture (encoder format and size)
  media::FramePtr enc_frame;  // the frame handed to the encoder (references, not copies)
  // The stream's own video filter graph ("vfilters") between its source's decoder and its
  // encoder, with its two ends; null without filters.
  media::FilterGraphPtr filter_graph;
  AVFilterContext* filter_src = nullptr;
  AVFilterContext* filter_sink = nullptr;
  media::FramePtr filter_frame;  // a picture pulled from the sink
  bool filters_flushed = false;  // the end of the input was sent into the graph

  // Audio.
  bool audio_resample = false;
  media::SwrPtr resample;  // s16 decoder layout -> encoder format, rate and layout
  int resample_in_rate = 0, resample_in_channels = 0;
  media::AudioFifoPtr fifo;      // samples in the encoder's format
  media::FramePtr audio_frame;   // one encoder frame read from the FIFO
  uint8_t** conv_buf = nullptr;  // converted samples (av_samples_alloc), grown
  int conv_samples = 0;

  // Encoder statistics of the last packet (quality side data).
  int last_quality = -1;
  int64_t last_error[4] = {0, 0, 0, 0};
  int last_pict_type = 0;
  int coded_frames = 0;  // video packets the encoder has given
  int64_t last_frame_size = 0;

  int64_t last_mux_dts = kNoValue;  // the last decoding time handed to the muxer (stream's base)
  FILE* logfile = nullptr;          // two-pass statistics of the first pass
  media::PacketPtr pkt;             // reused output packet
  // The video encoder's own thread while the overlap is on (made at the first picture, ended
  // after the flush; destroyed before the encoder is closed).
  std::unique_ptr<TVideoEncodeWorker> encode_worker;

  ~TAVOutputStream() {
    if (logfile) std::fclose(logfile);
    if (conv_buf) {
      ff::av_freep(&conv_buf[0]);
      ff::av_freep(&conv_buf);
    }
  }
};

struct TTranscodeState {
  std::vector<TAVInputFile> input_files;
  std::vector<std::unique_ptr<TAVInputStream>> ist;
  std::vector<std::unique_ptr<TAVOutputStream>> ost;
  media::PacketPtr pkt;  // the packet being read
  // Input-hook copies of decoded pictures (decoder format), taken in turn: the encoder's thread
  // may still hold the last few (it scales them), and a copy needs a buffer no one else holds.
  std::array<media::FramePtr, 5> hook_frames;
  AVFrame* FreeHookFrame() {
    for (auto& f : hook_frames)
      if (!f->buf[0] || ff::av_frame_is_writable(f.get())) return f.get();
    return hook_frames[0].get();  // made writable by copying its pixels
  }
  media::FramePtr out_hook_frame;  // output-hook copy of a picture to encode
  media::FramePtr deinterlaced;    // the deinterlaced decoded picture ("deinterlace")
  TDeinterlacer deinterlacer;
  decoder::TRGBConvertContext in_rgb{24};
  TOverlayBlender in_blend;  // lays the input hook's ready overlays
  TPictureBand in_band;      // the rows the input hook laid an overlay on, for its picture
  decoder::TRGBConvertContext out_rgb{24};
  std::vector<int16_t> s16;  // decoded audio of the current block, interleaved 16-bit
  std::vector<int16_t> silence;
  int segment = 0;  // join mode: the input being read, whose output streams are in use
  int64_t last_report = 0;
  int64_t preview_last_time = 0;
  bool bitmap_current = false;

  // Closes every open codec under the codec lock (encoders, then decoders).
  ~TTranscodeState();
};

}  // namespace trelvix::engine
