// TVideoSurface: what the player shows, as an RGB image that a host widget paints.
//
// The play thread sets the surface size (SetMode), draws pictures and the audio visualisation
// into it and calls Update when a part changed; any thread may take a copy (Snapshot) - the host
// widget to paint it, tests to read what would have been shown. Without a host the surface works
// all the same. Thread safe; the image is guarded by one mutex.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include <QImage>
#include <QRect>

namespace trelvix::player {

class TVideoSurface {
 public:
  TVideoSurface() = default;
  TVideoSurface(const TVideoSurface&) = delete;
  TVideoSurface& operator=(const TVideoSurface&) = delete;

  // A new black image of w x h (Format_RGB32). False when the image cannot be made.
  bool SetMode(int w, int h);
  // Drops the image (no surface).
  void Reset();
  bool HasMode() const;
  int Width() const;
  int Height() const;

  void FillRect(const QRect& r, QRgb color);
  // Copies a w x h block of 32-bit pixels (Format_RGB32 layout) to (x, y), clipped.
  void Blit(int x, int y, int w, int h, const uint8_t* pixels, int stride);
  // Runs fn with the image locked (fn must not call back into the surface).
  void Paint(const std::function<void(QImage&)>& fn);
  // Tells the host that the picture changed; counts the updates.
  void Update();

  // A copy of the image; null when there is no surface.
  QImage Snapshot() const;
  // How many times Update has been called.
  uint64_t UpdateCount() const;

  // Called (on the updating thread) after each Update; may be empty.
  void SetOnUpdate(std::function<void()> fn);

 private:
  mutable std::mutex FLock;
  QImage FImage;                    // Guarded by FLock.
  uint64_t FUpdates = 0;            // Guarded by FLock.
  std::function<void()> FOnUpdate;  // Guarded by FLock.
};

}  // namespace trelvix::player
