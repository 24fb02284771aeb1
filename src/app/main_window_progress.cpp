// The progress and preview display of the main window: the percentage with the remaining time,
// the bar, the statistics timer, the seek bar, the player's position and the preview frames.
#include <QLabel>
#include <cmath>
#include <optional>

#include "app/image_control.h"
#include "app/main_window.h"
#include "app/progress_image.h"
#include "app/widgets/mb_button.h"
#include "profile/duration_text.h"
#include "runtime/bitmap.h"

namespace trelvix::app {
namespace {

// trunc(percent / 100 x width), in floating point.
int BarColumn(int64_t percent, int width) {
  return int(std::trunc(double(percent) / 100.0 * width));
}

}  // namespace

void TfrmMain::ZentrovProgress(runtime::TObject*, encoder::PProgressInfo AProgressInfo) {
  FTotalDuration = AProgressInfo->TotalDuration;
  FCurrentDuration = AProgressInfo->CurrentDuration;
  int column = -1;  // an unknown total empties the bar
  if (FTotalDuration > 0) {
    const int64_t percent = profile::ProgressPercent(FCurrentDuration, FTotalDuration);
    SetProgressText(QString::fromStdString(profile::ProgressLine(
        FProgressPrefix.toStdString(), percent, FStatistics.RemainingText())));
    column = BarColumn(percent, ImageProgress->width());
  } else if (const auto done = profile::LocaleDurationText(FCurrentDuration / 1000)) {
    // Without a total there is no percentage: the time converted so far instead.
    SetProgressText(FProgressPrefix + QString::fromStdString(*done));
  }
  if (column != ImageProgress->Tag()) ProgressBar(column);
}

void TfrmMain::TimerStatTimer() {
  TimerStat.setInterval(profile::kStatIntervalMs);
  FStatistics.Tick(profile::LocalNow(), FCurrentDuration, FTotalDuration);
}

void TfrmMain::ProgressBar(int column) {
  ImageProgress->ProgressBar(column);
}

void TfrmMain::ImageProgressMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int x, int) {
  if (!btnStartConvert->isEnabled()) return;
  const int64_t position = FTotalDuration * x / ImageProgress->width();
  FFPlayer.Seek(position, 0, false);
}

void TfrmMain::FFPlayerFileOpen(runtime::TObject*, int64_t ADuration, int, int, int&, int&) {
  FTotalDuration = ADuration;
}

void TfrmMain::FFPlayerPosition(runtime::TObject*, int64_t APTS) {
  if (FTotalDuration == 0) return;  // an image: no length to measure against
  const int column = BarColumn(APTS * 100 / FTotalDuration, ImageProgress->width());
  if (column != ImageProgress->Tag()) ProgressBar(column);
  const auto played = profile::LocaleDurationText(APTS / 1000);
  const auto whole = profile::LocaleDurationText(FTotalDuration / 1000);
  if (played && whole) SetProgressText(QString::fromStdString(*played + "/" + *whole));
}

void TfrmMain::ZentrovPreviewBitmap(runtime::TObject*, const encoder::TPreviewInfo& APreviewInfo) {
  const int shown = Image1->Tag();
  Image1->SetTag(~shown);
  // Every second bitmap, copied while the event lasts (the engine owns it).
  if (shown == -1 && APreviewInfo.Bitmap) Image1->StretchFrom(APreviewInfo.Bitmap->Image());
}

}  // namespace trelvix::app
