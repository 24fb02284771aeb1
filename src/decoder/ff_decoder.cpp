#include "decoder/ff_decoder.h"

#include <mutex>
#include <string_view>

#include "decoder/bitmap_rotation.h"
#include "decoder/decoder_messages.h"
#include "media/ff_load.h"
#include "media/ff_log.h"
#include "media/ff_utils.h"
#include "media/ffapi.h"
#include "runtime/format.h"

namespace trelvix::decoder {
namespace {

// Pictures are kept with 32-bit aligned rows, so a picture in a bitmap format can be used in
// place by the RGB conversion.
constexpr int kPictureAlign = 4;

TPictureType PictureTypeOf(int t) {
  return (t >= ptUnknown && t <= ptBI) ? static_cast<TPictureType>(t) : ptUnknown;
}

}  // namespace

void TFFDecoder::LockedCodecDeleter::operator()(AVCodecContext* p) const {
  std::lock_guard lock(media::CodecLock());
  ff::avcodec_free_context(&p);
}

TFFDecoder::TFFDecoder() : FRGBContext(24) {}

TFFDecoder::~TFFDecoder() {
  TFFDecoder::CloseFile();
}

void TFFDecoder::SetBitmapBitsPixel(int32_t AValue) {
  if (AValue == FBitmapBitsPixel) return;
  FBitmapBitsPixel = AValue;
  FRGBContext.ResetRGBContext(AValue);
}

void TFFDecoder::RefreshFileInfo() {
  TCustomDecoder::RefreshFileInfo();
  FSeekIndex = FirstVideoStreamIndex() >= 0 ? FirstVideoStreamIndex() : FirstAudioStreamIndex();
  const AVFormatContext* ic = FileHandle();
  if (!ic) return;
  const int64_t start = FSeekIndex >= 0 ? ic->streams[FSeekIndex]->start_time : ic->start_time;
  FStartTime = start == AV_NOPTS_VALUE ? 0 : start;
}

void TFFDecoder::CloseCodec() {
  FCodec.reset();  // under the codec lock (LockedCodecDeleter)
  FCodecIndex = -1;
  FDraining = false;
}

void TFFDecoder::CloseFile() {
  FSeekIndex = -1;
  FStartTime = -1;
  FDecodeIndex = -1;
  FEOF = false;
  ClearPicture();
  FLastPTS = AV_NOPTS_VALUE;
  FLastPos = -1;
  CloseCodec();
  FRGBContext.ResetRGBContext(FBitmapBitsPixel);
  TCustomDecoder::CloseFile();
}

void TFFDecoder::ClearPicture() {
  if (FPicture.PTS != AV_NOPTS_VALUE) FLastPTS = FPicture.PTS;
  if (FPicture.Position != -1) FLastPos = FPicture.Position;
  FPicture.PixFmt = FPicture.Width = FPicture.Height = FPicture.StreamIndex = -1;
  FPicture.Position = -1;
  FPicture.IsKeyFrame = false;
  FPicture.PictureType = ptUnknown;
  FPicture.PTS = FPicture.OriginalDTS = FPicture.OriginalPTS = AV_NOPTS_VALUE;
  FPicture.Ready = false;
}

int64_t TFFDecoder::ReaderPosition() const {
  const AVFormatContext* ic = FileHandle();
  return ic && ic->pb ? ff::avio_seek(ic->pb, 0, SEEK_CUR) : -1;
}

int64_t TFFDecoder::Position() {
  if (!FileHandle()) {
    ReportError(AV_LOG_WARNING, msg::kFileNotLoaded);
    return -1;
  }
  if (!FileHandle()->pb) {
    ReportError(AV_LOG_WARNING, msg::kCannotGetPosition);
    return -1;
  }
  return ReaderPosition();
}

bool TFFDecoder::CheckSeekable() {
  if (!FileHandle()) {
    ReportError(AV_LOG_WARNING, msg::kFileNotLoaded);
    return false;
  }
  if (!OwnHandle()) {
    ReportError(AV_LOG_WARNING, msg::kHandleReadonly);
    throw EDecoderError(msg::kHandleReadonly);
  }
  return true;
}

bool IsStillImageFormat(const AVInputFormat* fmt) {
  if (!fmt || !fmt->name) return false;
  const std::string_view name = fmt->name;
  if (ff::av_strcasecmp(fmt->name, "image2") == 0) return true;
  // "image2pipe" reads a stream of pictures, one after another: not a still image.
  constexpr std::string_view kPipe = "_pipe";
  return name.size() > kPipe.size() && name.ends_with(kPipe) && name != "image2pipe";
}

bool TFFDecoder::IsStillImageFormat() const {
  const AVFormatContext* ic = FileHandle();
  return ic && decoder::IsStillImageFormat(ic->iformat);
}

bool TFFDecoder::CanSeek() {
  if (!CheckSeekable()) return false;
  if (IsStillImageFormat()) {
    ReportError(AV_LOG_INFO, msg::kImage2NoSeek);
    return false;
  }
  return true;
}

int32_t TFFDecoder::SelectDecodeStream(int32_t AStreamIndex) {
  if (!CheckSeekable()) return -1;
  int32_t index = AStreamIndex;
  if (index < 0) {
    index = FDecodeIndex >= 0 ? FDecodeIndex : FirstVideoStreamIndex();
    if (index < 0) {
      ReportError(AV_LOG_ERROR, msg::kNoVideoStream);
      return -1;
    }
  }
  if (index >= StreamCount()) {
    ReportErrorF(AV_LOG_ERROR, msg::kInvalidStreamIndex, index);
    return -1;
  }
  if (Stream(index)->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
    ReportErrorF(AV_LOG_ERROR, msg::kNotVideoStream, index);
    return -1;
  }
  if (index != FDecodeIndex) ClearPicture();
  FDecodeIndex = index;
  return index;
}

bool TFFDecoder::OpenDecodeCodec(int32_t AStreamIndex) {
  const AVStream* st = Stream(AStreamIndex);
  const AVCodecParameters* par = st->codecpar;
  if (par->width == 0 || par->height == 0) {
    ReportError(AV_LOG_ERROR, msg::kInvalidFrameSize);
    return false;
  }
  if (FCodec && FCodecIndex == AStreamIndex) return true;
  CloseCodec();

  const AVCodec* codec = ff::avcodec_find_decoder(par->codec_id);
  if (!codec) {
    ReportErrorF(AV_LOG_ERROR, msg::kUnsupportedCodec, static_cast<int>(par->codec_id),
                 AStreamIndex);
    return false;
  }
  LockedCodecPtr ctx(ff::avcodec_alloc_context3(codec));
  if (!ctx || ff::avcodec_parameters_to_context(ctx.get(), par) < 0) {
    ReportErrorF(AV_LOG_ERROR, msg::kCodecOpenFailed, AStreamIndex);
    return false;
  }
  ctx->pkt_timebase = st->time_base;
  // Slice threads only: frame threads would hold pictures back for several packets, and each
  // picture must leave the decoder with the packet that completed it.
  ctx->thread_count = 0;
  ctx->thread_type = FF_THREAD_SLICE;
  int ret;
  {
    std::lock_guard lock(media::CodecLock());
    ret = ff::avcodec_open2(ctx.get(), codec, nullptr);
  }
  if (ret < 0) {
    ReportErrorF(AV_LOG_ERROR, msg::kCodecOpenFailed, AStreamIndex);
    return false;
  }
  FCodec = std::move(ctx);
  FCodecIndex = AStreamIndex;
  FDraining = false;
  return true;
}

int64_t TFFDecoder::CurrentFrameDuration() const {
  const AVStream* st = Stream(FDecodeIndex);
  const int64_t unknown = media::FrameDuration(0, 0);
  if (!st) return unknown;
  // A rate above a million frames per second (or a negative one) gives no usable duration: the
  // steps of the searches below would not move.
  const int64_t d = media::FrameDuration(st->r_frame_rate.num, st->r_frame_rate.den);
  return d > 0 ? d : unknown;
}

bool TFFDecoder::Seek(int64_t APTS, TSeekFlags ASeekFlags) {
  if (!CanSeek()) return false;
  AVFormatContext* ic = FileHandle();
  // The position traces are only logged: they must not replace a failure's text in LastErrMsg.
  if (ic->pb)
    media::TFFLogger::PostF(this, media::llDebug, msg::kCurrentPosition,
                            static_cast<long long>(ReaderPosition()));

  int64_t target = APTS < 0 ? 0 : APTS;
  if (!(ASeekFlags & sfByte)) {
    if (FSeekIndex >= 0)
      target = ff::av_rescale_q(target, AV_TIME_BASE_Q, ic->streams[FSeekIndex]->time_base);
    if (FStartTime > 0) target += FStartTime;
  }

  if (FCodec) ff::avcodec_flush_buffers(FCodec.get());
  FDraining = false;
  FEOF = false;
  ClearPicture();

  const int flags = static_cast<int>(ASeekFlags);
  int ret;
  if (APTS > 0) {
    ret = ff::av_seek_frame(ic, FSeekIndex, target, flags);
  } else {
    ret = ff::av_seek_frame(ic, FSeekIndex, 0, flags | AVSEEK_FLAG_BACKWARD);
    if (ret < 0) ret = ff::av_seek_frame(ic, FSeekIndex, APTS, flags & ~AVSEEK_FLAG_BACKWARD);
  }
  if (ret < 0) {
    if (ASeekFlags & sfByte)
      ReportErrorF(AV_LOG_ERROR, msg::kSeekFailedBytes, static_cast<long long>(APTS));
    else
      ReportErrorF(AV_LOG_ERROR, msg::kSeekFailedSeconds, APTS / 1000000.0);
  }
  media::TFFLogger::PostF(this, media::llDebug, msg::kSeekPosition,
                          static_cast<long long>(ReaderPosition()));

  if (ic->pb && ff::avio_feof(ic->pb)) {
    if (ret >= 0) ReportError(AV_LOG_INFO, msg::kStreamEOF);
    FEOF = true;
    return false;
  }
  return ret >= 0;
}

bool TFFDecoder::Decode(int32_t AStreamIndex) {
  const int32_t index = SelectDecodeStream(AStreamIndex);
  if (index < 0) return false;
  if (FPicture.Ready && IsStillImageFormat()) return true;  // a still image keeps its picture
  if (FEOF) {
    ReportError(AV_LOG_INFO, msg::kStreamEOF);
    return false;
  }
  if (!OpenDecodeCodec(index)) return false;
  if (!FFrame) FFrame = media::MakeFrame();
  if (!FPacket) FPacket = media::MakePacket();
  if (!FFrame || !FPacket) return false;

  AVFormatContext* ic = FileHandle();
  const int64_t position = ReaderPosition();
  for (;;) {
    const int got = ff::avcodec_receive_frame(FCodec.get(), FFrame.get());
    if (got >= 0) {
      media::TFFLogger::PostF(this, media::llDebug, msg::kPacketTrace, index,
                              static_cast<long long>(FLastPacket.dts),
                              static_cast<long long>(FLastPacket.pts), FLastPacket.flags,
                              static_cast<int>(FFrame->pict_type));
      StorePicture(FFrame.get(), position);
      ff::av_frame_unref(FFrame.get());
      return true;
    }
    // Drained, or a failure while draining: nothing more will come.
    if (got == AVERROR_EOF || FDraining) break;
    // The codec wants input (or failed on a picture): feed it the next packet of the stream.
    if (ff::av_read_frame(ic, FPacket.get()) < 0) {
      // End of input: let the codec release the pictures it still holds back.
      FLastPacket = TPacketStamp{};
      FDraining = true;
      ff::avcodec_send_packet(FCodec.get(), nullptr);
      continue;
    }
    if (FPacket->stream_index == index) {
      FLastPacket = {FPacket->dts, FPacket->pts, FPacket->flags};
      ff::avcodec_send_packet(FCodec.get(), FPacket.get());  // a damaged packet is skipped
    }
    ff::av_packet_unref(FPacket.get());
  }
  ReportError(AV_LOG_INFO, msg::kStreamEOF);
  FEOF = true;
  return false;
}

void TFFDecoder::StorePicture(const AVFrame* frame, int64_t position) {
  const auto fmt = static_cast<AVPixelFormat>(frame->format);
  const int size = ff::av_image_get_buffer_size(fmt, frame->width, frame->height, kPictureAlign);
  if (size > FPicture.Size || !FPictureBuffer) {
    FPictureBuffer.reset();
    FPictureBuffer.reset(static_cast<uint8_t*>(ff::av_malloc(static_cast<size_t>(size))));
    FPicture.Buffer = FPictureBuffer.get();
    FPicture.Size = FPictureBuffer ? size : 0;
  }
  FPicture.PixFmt = frame->format;
  FPicture.Width = frame->width;
  FPicture.Height = frame->height;
  FPicture.IsKeyFrame = frame->key_frame == 1;
  FPicture.PictureType = PictureTypeOf(frame->pict_type);

  // The packet's decoding stamp, else the presentation stamp the frame carries from the packet
  // that started it, else the packet's presentation stamp.
  int64_t t = FLastPacket.dts;
  if (t == AV_NOPTS_VALUE) t = frame->pts;
  if (t == AV_NOPTS_VALUE) t = FLastPacket.pts;

  if (FPicture.PTS != AV_NOPTS_VALUE) FLastPTS = FPicture.PTS;
  const AVStream* st = Stream(FDecodeIndex);
  if (t == AV_NOPTS_VALUE) {
    FPicture.PTS = AV_NOPTS_VALUE;
  } else {
    if (st->start_time != AV_NOPTS_VALUE) t -= st->start_time;
    FPicture.PTS = ff::av_rescale_q(t, st->time_base, AV_TIME_BASE_Q);
    ff::av_log(nullptr, AV_LOG_DEBUG, msg::kDecodePTS, FPicture.PTS / 1000000.0);
  }

  FPicture.OriginalDTS = FLastPacket.dts;
  FPicture.OriginalPTS = FLastPacket.pts;
  FPicture.StreamIndex = FDecodeIndex;
  if (FPicture.Position != -1) FLastPos = FPicture.Position;
  FPicture.Position = position;

  if (!FPictureBuffer) {
    FPicture.Ready = false;
    return;
  }
  FPicture.Picture = TAVPicture{};
  ff::av_image_fill_arrays(FPicture.Picture.data, FPicture.Picture.linesize, FPictureBuffer.get(),
                           fmt, frame->width, frame->height, kPictureAlign);
  ff::av_image_copy(FPicture.Picture.data, FPicture.Picture.linesize,
                    const_cast<const uint8_t**>(frame->data), frame->linesize, fmt, frame->width,
                    frame->height);
  FPicture.Ready = true;
}

bool TFFDecoder::DecodeNextKeyFrame(int32_t AStreamIndex) {
  const int32_t index = SelectDecodeStream(AStreamIndex);
  if (index < 0) return false;
  int64_t target = CurrentFrameDuration();
  if (FPicture.PTS != AV_NOPTS_VALUE && FPicture.PTS > 0) target += FPicture.PTS;
  return Seek(target, 0) && Decode(index);
}

bool TFFDecoder::DecodePreviousKeyFrame(int32_t AStreamIndex) {
  const int32_t index = SelectDecodeStream(AStreamIndex);
  if (index < 0) return false;
  const int64_t d = CurrentFrameDuration();

  int64_t ref;
  if (FPicture.PTS != AV_NOPTS_VALUE)
    ref = FPicture.PTS;
  else if (FLastPTS != AV_NOPTS_VALUE)
    ref = FLastPTS;
  else if (FileHandle()->duration != AV_NOPTS_VALUE)
    ref = FileHandle()->duration;  // nothing decoded yet: search from the end of the file
  else
    ref = 0;

  // Step back one frame duration at a time until a picture before the reference comes. Whether
  // a seek went back is judged by the picture's time alone: several demuxers (MP4 among them)
  // move the reader only at the next read, so its byte position right after a seek tells
  // nothing. Once the target lies before the start, every further step lands on the same first
  // picture, so the search ends there.
  // After kLinearSteps steps of one frame duration the step doubles, so that a far reference
  // (a time stamp near the end of the 64-bit range) ends the search in a bounded number of steps.
  constexpr int64_t kLinearSteps = 64;
  bool ok = false;
  int64_t back = 0;
  for (int64_t h = 1;; ++h) {
    back = h <= kLinearSteps ? h * d : (back > INT64_MAX / 2 ? INT64_MAX : back * 2);
    Seek(back >= ref ? 0 : ref - back, sfBackward);
    if (Decode(index)) {
      if (FPicture.PTS < ref || FPicture.PTS <= 0) {
        ok = true;
        break;
      }
    }
    if (back > ref || back == INT64_MAX) break;
  }
  if (!ok) SetLastErrMsg(msg::kPreviousKeyFrameFailed + LastErrMsg());
  return ok;
}

bool TFFDecoder::DecodePreviousFrame(int32_t AStreamIndex) {
  const int32_t index = SelectDecodeStream(AStreamIndex);
  if (index < 0) return false;
  const int64_t d = CurrentFrameDuration();
  int64_t current = 0;
  if (FPicture.PTS != AV_NOPTS_VALUE)
    current = FPicture.PTS;
  else if (FLastPTS != AV_NOPTS_VALUE)
    current = FLastPTS;
  const int64_t target = current - 2 * d;
  if (!DecodePreviousKeyFrame(index)) return false;
  while (FPicture.PTS <= target)
    if (!Decode(index)) return false;
  return true;
}

TDisplayRotation TFFDecoder::PictureRotation() const {
  return StreamDisplayRotation(Stream(FPicture.StreamIndex));
}

bool TFFDecoder::CopyToBitmap(runtime::TBitmap& ABitmap) {
  if (!FPicture.Ready) {
    ReportError(AV_LOG_ERROR, msg::kPictureNotReady);
    return false;
  }
  const TDisplayRotation turn = PictureRotation();
  if (FRGBContext.ConvertToRGB(FPicture.Picture.data, FPicture.Picture.linesize,
                               static_cast<AVPixelFormat>(FPicture.PixFmt), false, FPicture.Height,
                               FPicture.Width)) {
    if (turn.IsIdentity())
      ABitmap = *FRGBContext.Bitmap();
    else
      TurnBitmap(*FRGBContext.Bitmap(), turn, ABitmap);
    return true;
  }
  const int width = turn.SwapsSides() ? FPicture.Height : FPicture.Width;
  const int height = turn.SwapsSides() ? FPicture.Width : FPicture.Height;
  ABitmap.SetSize(width, height);
  ABitmap.Canvas().Brush().style = runtime::TBrushStyle::bsSolid;
  ABitmap.Canvas().Brush().color = runtime::clBlack;
  ABitmap.Canvas().FillRect({0, 0, width, height});
  ReportError(AV_LOG_ERROR, msg::kToRGBFailed);
  return false;
}

const TDIB* TFFDecoder::GetBitmapPtr() {
  if (!FPicture.Ready) {
    ReportError(AV_LOG_ERROR, msg::kPictureNotReady);
    return nullptr;
  }
  const TDisplayRotation turn = PictureRotation();
  if (!FRGBContext.ConvertToRGB(FPicture.Picture.data, FPicture.Picture.linesize,
                                static_cast<AVPixelFormat>(FPicture.PixFmt), turn.IsIdentity(),
                                FPicture.Height, FPicture.Width)) {
    ReportError(AV_LOG_ERROR, msg::kToRGBFailed);
    return nullptr;
  }
  if (turn.IsIdentity()) return &FRGBContext.DIB();
  TurnBitmap(*FRGBContext.Bitmap(), turn, FTurned);
  FTurnedDIB = FRGBContext.DIB();
  FTurnedDIB.bmWidth = FTurned.Width();
  FTurnedDIB.bmHeight = FTurned.Height();
  FTurnedDIB.bmWidthBytes = FTurned.BytesPerLine();
  FTurnedDIB.bmBits = FTurned.Bits();
  return &FTurnedDIB;
}

}  // namespace trelvix::decoder
