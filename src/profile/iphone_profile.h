// The iPhone output profile: the records that turn any input into an MP4 an iPhone plays
// (H.264 480x320 at 25 fps, AAC stereo, "ipod" muxer), at the Hi or Lo quality level, written
// next to the input. Used by the window's Add file and by the CLI; main thread.
#pragma once

#include <string>

#include "encoder/option_records.h"

namespace trelvix::decoder {
class TCustomDecoder;
}

namespace trelvix::profile {

inline constexpr char kProgramName[] = "Trelvix to iPhone";
inline constexpr char kProgramVersion[] = "1.3";
inline constexpr char kMakerSite[] = "trelvix.example.org";
inline constexpr char kOutputFileExt[] = "_iphone.mp4";

enum class TQuality { Hi, Lo };

class TIPhoneProfile {
 public:
  // The decoder that has just probed the file; it must still hold the file while the records are
  // built. Not owned.
  void SetSourceDecoder(decoder::TCustomDecoder* decoder) { FDecoder = decoder; }
  void SetQuality(TQuality q) { FQuality = q; }
  TQuality Quality() const { return FQuality; }
  // The input's audio stream to convert; -1 leaves the choice to the engine. By default
  // (kAutoAudioStream) the records take the track ChooseAudioTrack picks for the user's locale.
  static constexpr int kAutoAudioStream = -2;
  void SetAudioStream(int stream_index) { FAudioStream = stream_index; }
  int AudioStream() const { return FAudioStream; }

  // The output record for the probed file (its name chosen by OutputFileName).
  void BuildOutputOptions(encoder::TOutputOptions& out) const;
  // The input record: the probed file's name and the format the probe forced.
  void BuildInputOptions(encoder::TInputOptions& in) const;

 private:
  decoder::TCustomDecoder* FDecoder = nullptr;
  TQuality FQuality = TQuality::Hi;
  int FAudioStream = kAutoAudioStream;
};

}  // namespace trelvix::profile
