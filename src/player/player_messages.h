// Every message text of the player, in one place. Texts with a "%" take printf arguments as
// noted.
#pragma once

namespace trelvix::player::msg {

inline constexpr char kVersion[] = "2.5";
inline constexpr char kWindowCaption[] = "FFPlayer";

// Component.
inline constexpr char kLibrariesNotLoaded[] = "libav or libsdl not loaded.";
inline constexpr char kSDLInitFailed[] = "Could not initialize SDL with ScreenHandle(%u): %s";
inline constexpr char kVideoInfoFailed[] = "SDL_GetVideoInfo() failed";
inline constexpr char kUnknownInputFormat[] = "Unknown input format: %s";    // format name
inline constexpr char kPlayThreadException[] = "PlayThread Exception: ";     // + message
inline constexpr char kVideoHookException[] = "Error occurs OnVideoHook: ";  // + message
inline constexpr char kUsingAudioDriver[] = "using audio driver: %s\n";
inline constexpr char kUsingVideoDriver[] = "using video driver: %s\n";

// Playback set-up and reading.
inline constexpr char kAllocFailed[] = "av_mallocz() failed.";
inline constexpr char kCreateThreadFailed[] = "SDL_CreateThread() failed.";
inline constexpr char kOpenTimedOut[] = "%s: the source did not open within %.1f s";  // file, s
inline constexpr char kNoCodecParameters[] = "%s: could not find codec parameters";   // file
inline constexpr char kStartSeekFailed[] = "%s: could not seek to position %0.3f";    // file, s
inline constexpr char kNoStreamToPlay[] = "%s: could not open codecs, no stream to play.";
inline constexpr char kReachEOF[] = "reach end of file: %s";              // file
inline constexpr char kReadError[] = "error #%d while reading file: %s";  // code, file
inline constexpr char kSeekError[] = "%s: error while seeking";           // file
inline constexpr char kCodecOpenFailed[] = "avcodec_open() failed.";
inline constexpr char kAudioOpenFailed[] = "SDL_OpenAudio() failed: ";  // + SDL text

// Stream switching.
inline constexpr char kCurrentStreamInvalid[] = "the current stream is not valid.";
inline constexpr char kStreamIndexInvalid[] = "the stream index is not valid.";
inline constexpr char kStreamTypeNotMatched[] = "the stream type is not matched.";
inline constexpr char kAudioStreamInvalid[] = "the audio stream is not invalid.";
inline constexpr char kStreamTypeInvalid[] = "the stream type is invalid.";

// Audio.
inline constexpr char kAudioDecodeFailed[] = "avcodec_decode_audio2() failed";
inline constexpr char kCannotConvert[] = "Cannot convert %s sample format to %s sample format";
inline constexpr char kAudioConvertFailed[] = "av_audio_convert() failed";

// Video and display.
inline constexpr char kSetVideoModeFailed[] = "SDL: could not set video mode.";
inline constexpr char kPictureChanged[] = "Picture properties changed.\n";
inline constexpr char kToRGBFailed[] = "Cannot initialize the toRGB conversion context";
inline constexpr char kFromRGBFailed[] = "Cannot initialize the fromRGB conversion context";
inline constexpr char kScalerFlags[] = "flags=%d";  // scaler flags
inline constexpr char kInputFilterName[] = "ffplay_input";
inline constexpr char kOutputFilterName[] = "ffplay_output";

}  // namespace trelvix::player::msg
