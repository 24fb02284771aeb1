// The encoder component's event records and event types. The records are reused for every event
// of their kind: a handler copies what it keeps.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "runtime/bitmap.h"
#include "runtime/ink_overlay.h"
#include "runtime/object.h"

namespace trelvix::encoder {

struct THookInfo {
  int32_t TaskIndex = 0;
  runtime::TBitmap* Bitmap = nullptr;  // owned by the engine; the handler may draw on it
  int32_t FrameNumber = 0;
  int64_t PTS = 0;        // microseconds
  bool Update = false;    // in and out: the handler changed the bitmap
  bool StopHook = false;  // in and out: stop calling this hook for the rest of the task
};
using PHookInfo = THookInfo*;

struct TProgressInfo {
  int32_t TaskIndex = 0;
  int32_t FileIndex = 0;  // -1 in the last report of a task
  int32_t FrameNumber = 0;
  int32_t FPS = 0;
  float Quality = 0;
  float BitRate = 0;        // kbit/s
  int64_t CurrentSize = 0;  // bytes
  int64_t CurrentDuration = 0;
  int64_t TotalDuration = 0;  // -1 when unknown
};
using PProgressInfo = TProgressInfo*;

struct TPreviewInfo {
  int32_t TaskIndex = 0;
  runtime::TBitmap* Bitmap = nullptr;  // owned by the engine; valid during the event only
  int32_t FrameNumber = 0;
  int64_t PTS = 0;
};

struct TTerminateInfo {
  int32_t TaskIndex = 0;  // -1 in the final event of a run
  bool Finished = false;
  bool Exception = false;
  std::string ExceptionMsg;
};

using TProgressEvent = std::function<void(runtime::TObject* Sender, PProgressInfo AProgressInfo)>;
using TTerminateEvent =
    std::function<void(runtime::TObject* Sender, const TTerminateInfo& ATerminateInfo)>;
using TPreviewBitmapEvent =
    std::function<void(runtime::TObject* Sender, const TPreviewInfo& APreviewInfo)>;
using TVideoHookEvent = std::function<void(runtime::TObject* Sender, PHookInfo AHookInfo)>;
// Asked, when assigned, before the video input hook converts a frame: the part of the frame
// (AWidth x AHeight) the hook handler will draw on at this time. An empty rectangle: nothing to
// draw; the frame goes on untouched and the hook event is not raised for it. Otherwise the hook's
// bitmap shows the frame only in (and a little around) the rectangle. An answer that also carries
// a ready overlay, the handler's only change to the frame, lets the conversion lay it on itself
// where the frame's layout allows; the hook event is then not raised for the frame (see
// engine::TVideoHookQuery). AStopHook as for the hook.
using TVideoHookQuery = std::function<runtime::TDrawArea(
    runtime::TObject* Sender, int32_t ATaskIndex, int32_t AWidth, int32_t AHeight,
    int32_t AFrameNumber, int64_t APTS, bool& AStopHook)>;
using TAudioHookEvent = std::function<void(
    runtime::TObject* Sender, int32_t ATaskIndex, int64_t APTS, uint8_t* ASample, int32_t ASize,
    int32_t ASampleRate, int32_t AChannels, int32_t ASampleFormat)>;

}  // namespace trelvix::encoder
