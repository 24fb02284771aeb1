// TFFDecoder: random access to the pictures of one video stream of a file the decoder opened
// itself. Seek by time or byte position, decode the next picture, step to the next or previous
// key frame or to the previous frame, and hand the current picture out as a bitmap.
//
// Frame access on a context attached through SetFileHandle throws EDecoderError ("file cannot
// be seeked, handle is readonly."); everything else reports through LastErrMsg and returns
// false, -1 or null. Single-threaded, like TCustomDecoder; codec open and close hold the
// process-wide codec lock.
#pragma once

#include <cstdint>
#include <memory>

#include "decoder/custom_decoder.h"
#include "decoder/display_rotation.h"
#include "decoder/rgb_convert.h"
#include "media/ff_ptr.h"

struct AVCodecContext;
struct AVFrame;
struct AVInputFormat;

namespace trelvix::decoder {

// True for a still image: the picture-file demuxer ("image2", any letter case) and the
// single-picture demuxers ("png_pipe", "jpeg_pipe" ...); not "image2pipe", which reads a stream
// of pictures. The decoder and the player go by this one rule.
bool IsStillImageFormat(const AVInputFormat* fmt);

// The library's picture types 0..7.
enum TPictureType { ptUnknown, ptI, ptP, ptB, ptS, ptSI, ptSP, ptBI };

// The library's seek flags (AVSEEK_FLAG_BACKWARD, _BYTE, _ANY, _FRAME), one bit each.
enum TSeekFlag : unsigned { sfBackward = 1, sfByte = 2, sfAny = 4, sfFrame = 8 };
using TSeekFlags = unsigned;  // a set of TSeekFlag

struct TFrameInfo {
  int32_t PixFmt = -1;  // AVPixelFormat; -1 when empty
  int32_t Width = -1;
  int32_t Height = -1;
  bool IsKeyFrame = false;
  TPictureType PictureType = ptUnknown;
  int64_t PTS = INT64_MIN;          // microseconds from the stream's start; INT64_MIN: no value
  int64_t OriginalDTS = INT64_MIN;  // stream time base, unconverted
  int64_t OriginalPTS = INT64_MIN;
  int32_t StreamIndex = -1;
  int64_t Position = -1;  // reader's byte position when the Decode that produced it began
  bool Ready = false;
  TAVPicture Picture;  // planes inside Buffer
  // The picture memory, owned by the decoder: valid until the next decode, seek or close.
  uint8_t* Buffer = nullptr;
  int32_t Size = 0;  // capacity of Buffer
};

class TFFDecoder : public TCustomDecoder {
 public:
  TFFDecoder();
  ~TFFDecoder() override;

  void CloseFile() override;

  // Bit depth of output bitmaps: 8, 15, 16, 24 (default) or 32; other values give 24.
  int32_t BitmapBitsPixel() const { return FBitmapBitsPixel; }
  void SetBitmapBitsPixel(int32_t AValue);
  bool Eof() const { return FEOF; }  // the EOF property ("EOF" itself is a C macro)
  // A copy of the current picture's record (its planes point into the decoder's memory).
  TFrameInfo FrameInfo() const { return FPicture; }
  // The reader's byte position; -1 (reported) without file or I/O context.
  int64_t Position();

  // APTS: microseconds from the start of the file, or a byte offset with sfByte.
  bool Seek(int64_t APTS, TSeekFlags ASeekFlags = 0);
  // AStreamIndex -1: the stream decoded last, else the first video stream.
  bool Decode(int32_t AStreamIndex = -1);
  bool DecodeNextKeyFrame(int32_t AStreamIndex = -1);
  bool DecodePreviousKeyFrame(int32_t AStreamIndex = -1);
  bool DecodePreviousFrame(int32_t AStreamIndex = -1);

  // The current picture into the caller's bitmap (a copy), upright: turned by the stream's
  // display matrix as a player shows it (FrameInfo keeps the stored size). On failure the
  // bitmap is sized to the upright picture and black.
  bool CopyToBitmap(runtime::TBitmap& ABitmap);
  // The current picture, upright, as a device-independent bitmap description; null on failure.
  // Its bits point into the conversion context's buffer, straight into the picture memory or,
  // for a turned picture, into the decoder's own bitmap; valid until the next decode, seek,
  // depth change, bitmap request or close.
  const TDIB* GetBitmapPtr();

 protected:
  void RefreshFileInfo() override;

 private:
  struct LockedCodecDeleter {
    void operator()(AVCodecContext* p) const;
  };
  using LockedCodecPtr = std::unique_ptr<AVCodecContext, LockedCodecDeleter>;

  bool CheckSeekable();
  bool CanSeek();
  bool IsStillImageFormat() const;
  int32_t SelectDecodeStream(int32_t AStreamIndex);
  bool OpenDecodeCodec(int32_t AStreamIndex);
  void CloseCodec();
  void ClearPicture();
  void StorePicture(const AVFrame* frame, int64_t position);
  int64_t CurrentFrameDuration() const;
  int64_t ReaderPosition() const;  // -1 without I/O context
  // The turn that shows the current picture upright.
  TDisplayRotation PictureRotation() const;

  // The packet last handed to the codec: what a picture completed by it is stamped with.
  struct TPacketStamp {
    int64_t dts = INT64_MIN;
    int64_t pts = INT64_MIN;
    int flags = 0;
  };

  LockedCodecPtr FCodec;     // the decode stream's codec, owned; opened under the codec lock
  int32_t FCodecIndex = -1;  // stream FCodec was opened for
  bool FDraining = false;    // end of input was signalled to FCodec
  TPacketStamp FLastPacket;
  TRGBConvertContext FRGBContext;
  runtime::TBitmap FTurned;  // the current picture turned upright, for GetBitmapPtr
  TDIB FTurnedDIB;
  int32_t FBitmapBitsPixel = 24;
  int32_t FSeekIndex = -1;
  int64_t FStartTime = -1;
  int32_t FDecodeIndex = -1;
  bool FEOF = false;
  TFrameInfo FPicture;
  media::AvMemPtr<uint8_t> FPictureBuffer;  // owner of FPicture.Buffer
  int64_t FLastPTS = INT64_MIN;
  int64_t FLastPos = -1;
  media::FramePtr FFrame;    // reused for every decoded frame
  media::PacketPtr FPacket;  // reused for every packet read
};

}  // namespace trelvix::decoder
