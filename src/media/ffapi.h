// The FFmpeg entry points, reached through the loader's slots in namespace ff.
//
// Include this header instead of calling FFmpeg directly: every function named in the binding
// lists bind/*.inc is available as ff::name with its own signature. Calling the library function
// itself (::name) fails to link, on purpose: nothing links against FFmpeg at build time. The
// header-only helpers of the libraries (av_q2d, av_make_q, av_cmp_q ...) may be used directly.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/avfft.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/cpu.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/fifo.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "media/ff_slot.h"

// decltype drops attributes such as warn_unused_result; that is harmless here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"
namespace ff {
#define TRELVIX_FN(name) extern ::trelvix::media::FnSlot<decltype(&::name)> name;
#define TRELVIX_VAR(type, name) extern ::trelvix::media::VarSlot<type> name;
#include "media/bind/avcodec.inc"
#include "media/bind/avdevice.inc"
#include "media/bind/avfilter.inc"
#include "media/bind/avformat.inc"
#include "media/bind/avutil.inc"
#include "media/bind/swresample.inc"
#include "media/bind/swscale.inc"
#undef TRELVIX_FN
#undef TRELVIX_VAR
}  // namespace ff
#pragma GCC diagnostic pop
