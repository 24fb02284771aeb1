// The player's enumerations and event types.
#pragma once

#include <cstdint>
#include <functional>

#include "runtime/object.h"

namespace trelvix::runtime {
class TBitmap;
}

namespace trelvix::player {

enum TPlayState { psPlay, psPause, psResume, psStep, psStop, psEnd };
// adDirectSound and adWaveOut choose SDL's "pulseaudio" and "alsa" drivers.
enum TAudioDriver { adDefault, adDirectSound, adWaveOut };
// Video goes through the Qt video surface; the choice is kept for the host and has no effect.
enum TVideoDriver { vdDefault, vdDirectDraw, vdGDI };
enum TRepeatType { rtNone, rtStop, rtLoop };
enum TShowAudio { saNone, saWave, saRDFT };
using TAudioVolume = int;  // 0..128
enum Tav_sync_type { AV_SYNC_AUDIO_MASTER, AV_SYNC_VIDEO_MASTER, AV_SYNC_EXTERNAL_CLOCK };

// A time with no value.
inline constexpr int64_t kNoTime = INT64_MIN;

// Media types that index the wanted streams (-1 .. 5, the library's AVMediaType values).
inline constexpr int kMediaTypeVideo = 0;
inline constexpr int kMediaTypeAudio = 1;
inline constexpr int kMediaTypeSubtitle = 3;

using TObject = runtime::TObject;

// ADuration: microseconds (0 for "image2" inputs, -1 without a container duration);
// AFrameWidth/AFrameHeight: the video picture size, -1 without video. The handler may set the
// surface size.
using TFileOpenEvent = std::function<void(TObject* Sender, int64_t ADuration, int AFrameWidth,
                                          int AFrameHeight, int& AScreenWidth, int& AScreenHeight)>;
// APTS: microseconds from the file start.
using TPositionEvent = std::function<void(TObject* Sender, int64_t APTS)>;
using TPlayStateEvent = std::function<void(TObject* Sender, TPlayState APlayState)>;
// Raised on the video thread with the picture as a bitmap (owned by the player; valid during the
// event only). Clearing AUpdate leaves the picture as it was.
using TVideoHookEvent =
    std::function<void(TObject* Sender, runtime::TBitmap* ABitmap, int64_t APTS, bool& AUpdate)>;
// Raised on the audio thread with signed 16-bit interleaved samples (valid during the event only).
using TAudioHookEvent = std::function<void(TObject* Sender, int64_t APTS, uint8_t* ASample,
                                           int ASize, int ASampleRate, int AChannels)>;

}  // namespace trelvix::player
