// Shared by the player tests: libraries, clips, a recorder of the player's events and waits that
// keep the main-thread queue served.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <QImage>

#include "fixtures/fixtures.h"
#include "media/ff_load.h"
#include "player/ff_player.h"
#include "runtime/application.h"
#include "runtime/bitmap.h"
#include "runtime/main_thread.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace trelvix::player::testing {

// The encoder set (for the fixtures) and the player's set.
inline void LoadLibraries() {
  media::TFFLoader& loader = media::FFLoader();
  if (!loader.Loaded(media::kEncoderLibraries)) {
    ASSERT_TRUE(loader.Load(media::kEncoderLibraries)) << loader.LastErrMsg();
  }
  if (!loader.Loaded(media::kPlayerLibraries)) {
    ASSERT_TRUE(loader.Load(media::kPlayerLibraries)) << loader.LastErrMsg();
  }
}

// Serves the main-thread queue until pred() holds or timeout_ms passed; returns pred().
inline bool PumpUntil(const std::function<bool()>& pred, int timeout_ms = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return pred();
    runtime::CheckSynchronize(5);
    runtime::ProcessPendingMessages();
  }
  return true;
}

inline void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

// Positions and states as the host receives them (on the main thread).
class TEventRecorder {
 public:
  explicit TEventRecorder(TCustomPlayer& player) {
    player.SetOnPosition([this](TObject*, int64_t pts) {
      std::lock_guard g(lock_);
      positions_.push_back(pts);
      order_.push_back('p');
    });
    player.SetOnState([this](TObject*, TPlayState s) {
      std::lock_guard g(lock_);
      states_.push_back(s);
      order_.push_back('s');
    });
  }
  std::vector<int64_t> Positions() const {
    std::lock_guard g(lock_);
    return positions_;
  }
  std::vector<TPlayState> States() const {
    std::lock_guard g(lock_);
    return states_;
  }
  bool Has(TPlayState s) const {
    std::lock_guard g(lock_);
    for (TPlayState x : states_)
      if (x == s) return true;
    return false;
  }
  int64_t LastPosition() const {
    std::lock_guard g(lock_);
    return positions_.empty() ? -1 : positions_.back();
  }
  void Clear() {
    std::lock_guard g(lock_);
    positions_.clear();
    states_.clear();
    order_.clear();
  }

 private:
  mutable std::mutex lock_;
  std::vector<int64_t> positions_;
  std::vector<TPlayState> states_;
  std::string order_;
};

// A clip spec for the player tests: short, 320x240 at 25 fps, one key frame per picture unless
// said otherwise (so a seek shows the picture at the position asked for).
inline fixtures::ClipSpec SmallClip(double seconds = 1.2) {
  fixtures::ClipSpec spec;
  spec.container = "mkv";
  spec.video_codec = "mpeg4";
  spec.audio_codec = "pcm_s16le";
  spec.width = 320;
  spec.height = 240;
  spec.seconds = seconds;
  spec.gop = 1;
  spec.tone_hz = 440.0;
  return spec;
}

// The frame number shown by a surface image in the rectangle, -1 when none can be read.
inline int SurfaceFrameNumber(const QImage& img, int x, int y, int w, int h) {
  if (img.isNull() || w <= 0 || h <= 0) return -1;
  const uint8_t* base = img.constBits() + static_cast<ptrdiff_t>(y) * img.bytesPerLine() + x * 4;
  return fixtures::ReadFrameNumberRGB(base, static_cast<int>(img.bytesPerLine()), 32, w, h);
}

inline int SurfaceFrameNumber(const QImage& img) {
  return SurfaceFrameNumber(img, 0, 0, img.width(), img.height());
}

// The frame number of a CurrentFrame bitmap (24 or 32 bits), -1 when none can be read.
inline int BitmapFrameNumber(const runtime::TBitmap* bmp) {
  if (!bmp || bmp->Empty()) return -1;
  return fixtures::ReadFrameNumberRGB(bmp->Bits(), bmp->BytesPerLine(), bmp->BitsPerPixel(),
                                      bmp->Width(), bmp->Height());
}

// Waits until a picture is on the surface; returns its frame number (-1 on time-out).
inline int WaitForPicture(TCustomPlayer& player, int timeout_ms = 3000) {
  int n = -1;
  PumpUntil(
      [&] {
        n = SurfaceFrameNumber(player.Surface().Snapshot());
        return n >= 0;
      },
      timeout_ms);
  return n;
}

// The bounding box of the non-black pixels of a surface image.
inline QRect PictureRect(const QImage& img) {
  int x0 = img.width(), y0 = img.height(), x1 = -1, y1 = -1;
  for (int y = 0; y < img.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
    for (int x = 0; x < img.width(); ++x) {
      const QRgb c = line[x];
      if (qRed(c) > 24 || qGreen(c) > 24 || qBlue(c) > 24) {
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
      }
    }
  }
  if (x1 < 0) return QRect();
  return QRect(QPoint(x0, y0), QPoint(x1, y1));
}

// The audio device: SDL's disk driver writing into `file`. Call before Open.
inline void UseDiskAudio(const std::string& file) {
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
}

inline void UseDummyAudio() {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
}

}  // namespace trelvix::player::testing
