#include "player/video_surface.h"

#include <algorithm>
#include <cstring>

namespace trelvix::player {

bool TVideoSurface::SetMode(int w, int h) {
  if (w <= 0 || h <= 0) return false;
  QImage img(w, h, QImage::Format_RGB32);
  if (img.isNull()) return false;
  img.fill(Qt::black);
  std::lock_guard g(FLock);
  FImage = std::move(img);
  return true;
}

void TVideoSurface::Reset() {
  std::lock_guard g(FLock);
  FImage = QImage();
}

bool TVideoSurface::HasMode() const {
  std::lock_guard g(FLock);
  return !FImage.isNull();
}

int TVideoSurface::Width() const {
  std::lock_guard g(FLock);
  return FImage.width();
}

int TVideoSurface::Height() const {
  std::lock_guard g(FLock);
  return FImage.height();
}

void TVideoSurface::FillRect(const QRect& r, QRgb color) {
  std::lock_guard g(FLock);
  if (FImage.isNull()) return;
  const QRect c = r.intersected(FImage.rect());
  for (int y = c.top(); y <= c.bottom(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(FImage.scanLine(y));
    std::fill(line + c.left(), line + c.left() + c.width(), color);
  }
}

void TVideoSurface::Blit(int x, int y, int w, int h, const uint8_t* pixels, int stride) {
  std::lock_guard g(FLock);
  if (FImage.isNull()) return;
  const QRect c = QRect(x, y, w, h).intersected(FImage.rect());
  if (c.isEmpty()) return;
  for (int row = c.top(); row <= c.bottom(); ++row) {
    const uint8_t* src = pixels + static_cast<ptrdiff_t>(row - y) * stride + (c.left() - x) * 4;
    std::memcpy(FImage.scanLine(row) + c.left() * 4, src, static_cast<size_t>(c.width()) * 4);
  }
}

void TVideoSurface::Paint(const std::function<void(QImage&)>& fn) {
  std::lock_guard g(FLock);
  if (!FImage.isNull()) fn(FImage);
}

void TVideoSurface::Update() {
  std::function<void()> notify;
  {
    std::lock_guard g(FLock);
    ++FUpdates;
    notify = FOnUpdate;
  }
  if (notify) notify();
}

QImage TVideoSurface::Snapshot() const {
  std::lock_guard g(FLock);
  return FImage.copy();
}

uint64_t TVideoSurface::UpdateCount() const {
  std::lock_guard g(FLock);
  return FUpdates;
}

void TVideoSurface::SetOnUpdate(std::function<void()> fn) {
  std::lock_guard g(FLock);
  FOnUpdate = std::move(fn);
}

}  // namespace trelvix::player
