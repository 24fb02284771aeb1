#include "profile/iphone_profile.h"

#include <stdexcept>
#include <string>

#include "decoder/custom_decoder.h"
#include "profile/output_naming.h"
#include "profile/track_choice.h"
#include "runtime/locale_utils.h"

namespace trelvix::profile {

void TIPhoneProfile::BuildOutputOptions(encoder::TOutputOptions& out) const {
  if (!FDecoder) throw std::logic_error("no source decoder");
  const bool hi = FQuality == TQuality::Hi;
  out = encoder::TOutputOptions{};
  out.ForceFormat = "ipod";
  out.VideoCodec = "libx264";
  out.AudioCodec = "libfaac";
  out.FrameSize = "480x320";
  out.FrameRate = "25";
  out.VideoBitrate = hi ? 600000 : 400000;
  out.VideoBitRateTolerance = hi ? 250000 : 96000;
  out.AudioBitrate = hi ? 128000 : 96000;
  out.AudioChannels = 2;
  out.VideoPreset = hi ? "default" : "fastfirstpass";
  out.ExtOptions = "vpre=ipod640";
  out.VideoInputHook = true;
  out.CopyTimestamp = false;
  out.DisableSubtitle = true;
  out.FileExt = kOutputFileExt;
  out.Info.Author = kProgramName;
  out.Info.Comment = kMakerSite;
  out.Info.TimeStamp = 0;  // the moment the task is configured
  out.FileName = OutputFileName(FDecoder->FileName(), out.FileExt);
  // A chosen audio track is mapped explicitly, with the first video stream before it (the
  // output's streams are video, then audio).
  const int audio = FAudioStream != kAutoAudioStream
                        ? FAudioStream
                        : ChooseAudioTrack(*FDecoder, {}, runtime::UserLanguage()).StreamIndex;
  if (audio >= 0) {
    if (FDecoder->FirstVideoStreamIndex() >= 0)
      out.ExtOptions += "\nmap=0:" + std::to_string(FDecoder->FirstVideoStreamIndex());
    out.ExtOptions += "\nmap=0:" + std::to_string(audio);
  }
}

void TIPhoneProfile::BuildInputOptions(encoder::TInputOptions& in) const {
  if (!FDecoder) throw std::logic_error("no source decoder");
  in = encoder::TInputOptions{};
  in.FileName = FDecoder->FileName();
  in.ForceFormat = FDecoder->ForceFormat();
}

}  // namespace trelvix::profile
