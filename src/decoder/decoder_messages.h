// Every message text of the decoder component, in one place. Texts with a "%" take printf
// arguments as noted.
#pragma once

namespace trelvix::decoder::msg {

// Missing libraries (raised).
inline constexpr char kAVCodecNotLoaded[] = "LibAVCodec not loaded.";
inline constexpr char kAVFormatNotLoaded[] = "LibAVFormat not loaded.";
inline constexpr char kAVUtilNotLoaded[] = "LibAVUtil not loaded.";
inline constexpr char kSwScaleNotLoaded[] = "LibSwScale not loaded.";

// Opening a file.
inline constexpr char kUnknownInputFormat[] = "Unknown input format: %s";            // format name
inline constexpr char kNoCodecParameters[] = "%s: could not find codec parameters";  // file

// Queries.
inline constexpr char kFileNotLoaded[] = "file not loaded.";
inline constexpr char kNoVideoStream[] = "no video stream.";
inline constexpr char kNoAudioStream[] = "no audio stream.";
inline constexpr char kNoSubtitleStream[] = "no subtitle stream.";
inline constexpr char kInvalidStreamIndex[] = "stream index #%d is invalid.";
inline constexpr char kNotVideoStream[] = "stream #%d is not video stream.";
inline constexpr char kNotAudioStream[] = "stream #%d is not audio stream.";
inline constexpr char kNotSubtitleStream[] = "stream #%d is not subtitle stream.";

// Frame access.
inline constexpr char kHandleReadonly[] = "file cannot be seeked, handle is readonly.";
inline constexpr char kImage2NoSeek[] = "\"image2\" format cannot to be seeked.";
inline constexpr char kInvalidFrameSize[] = "frame size of codec is invalid.";
inline constexpr char kUnsupportedCodec[] =
    "Unsupported codec (id=%d) for input file stream #%d";  // codec id, stream index
inline constexpr char kCodecOpenFailed[] =
    "Error while opening codec for input file stream #%d";  // stream index
inline constexpr char kCurrentPosition[] = "currunt position %lld bytes";
inline constexpr char kSeekFailedBytes[] = "could not seek to position %lld bytes";
inline constexpr char kSeekFailedSeconds[] = "could not seek to position %0.3f seconds";
inline constexpr char kSeekPosition[] = "seek to position %lld bytes";
inline constexpr char kStreamEOF[] = "stream eof reached.";
inline constexpr char kPacketTrace[] = "pkt.st_idx=%d, dts=%lld, pts=%lld, flags=%d, pict_type=%d";
inline constexpr char kDecodePTS[] = "decode PTS: %0.3f\n";  // through the library log
inline constexpr char kPreviousKeyFrameFailed[] = "Could not seek to the previous key-frame. ";
inline constexpr char kPictureNotReady[] = "picture not ready, please decode first";
inline constexpr char kToRGBFailed[] = "Cannot initialize the toRGB conversion context";
inline constexpr char kCannotGetPosition[] = "cannot get position";

}  // namespace trelvix::decoder::msg
