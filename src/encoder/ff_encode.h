// The encoder component: a list of conversion tasks, run one after another or several at once
// on worker threads, with pause, resume and stop, and the engines' callbacks turned into the
// component's own events tagged with the task's index.
//
// Threads: every operation is called on the main thread. Progress and preview events run on the
// main thread when TriggerEventInMainThread (the conversion thread waits for them), else on the
// conversion thread; video and audio hooks always run on the conversion thread; termination
// events run on short-lived termination threads in thread mode and on the calling thread in
// synchronous mode. The final event of a run (task index -1) comes after every task's event.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "decoder/ff_decoder.h"
#include "encoder/encoder_events.h"
#include "encoder/option_records.h"
#include "engine/ffmpeg.h"
#include "media/ff_base_component.h"

namespace trelvix::encoder {

using engine::TThreadPriority;

// Misuse of the component ("Cannot %s while working.").
class EEncoderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TCustomEncoder;

// One task: an engine job with a decoder per input and owned copies of the option records.
class TFFmpeg : public engine::TCustomFFmpeg {
 public:
  explicit TFFmpeg(TCustomEncoder* parent) : FParent(parent) {}
  ~TFFmpeg() override;

  // The decoder bound to input i, created on first use. Owned by the task.
  decoder::TFFDecoder* GetDecoder(int i);
  void SetInputOptions(int i, const TInputOptions* o);  // stores a copy; null resets the slot
  void SetOutputOptions(int i, const TOutputOptions* o);
  TInputOptions* InputOptions(int i) { return FInputOptions[i].get(); }
  TOutputOptions* OutputOptions(int i) { return FOutputOptions[i].get(); }
  TCustomEncoder* Parent() const { return FParent; }

 private:
  std::array<std::unique_ptr<decoder::TFFDecoder>, engine::kMaxFiles> FDecoders;
  std::array<std::unique_ptr<TInputOptions>, engine::kMaxFiles> FInputOptions;
  std::array<std::unique_ptr<TOutputOptions>, engine::kMaxFiles> FOutputOptions;
  TCustomEncoder* FParent;
};

// The tasks, owned. Guarded by its own lock, so that conversion threads can look up their index.
class TFFmpegList {
 public:
  int Add(std::unique_ptr<TFFmpeg> task);
  void Clear();
  void Delete(int index);
  void Exchange(int i, int j);
  TFFmpeg* Items(int index) const;
  int IndexOf(const runtime::TObject* task) const;
  int Count() const;
  void Pause();
  void Resume();
  void Abort(bool wait);
  void SetPreviewHook(bool on);
  void SetBitmapHook(bool on);

 private:
  std::vector<TFFmpeg*> Snapshot() const;
  mutable std::mutex FLock;
  std::vector<std::unique_ptr<TFFmpeg>> FList;  // Guarded by FLock.
};

class TCustomEncoder : public media::TFFBaseComponent {
 public:
  TCustomEncoder();
  ~TCustomEncoder() override;

  // --- Tasks; these raise EEncoderError while working ---
  // The new task's index, or -1 with LastErrMsg. An empty FileName of the record is filled in.
  int AddTask(const std::string& AFileName, TInputOptions* AOptions = nullptr);
  int AddTask(const std::string& AFileName, const std::string& AExtOptions);
  // An application stream named "stream:%d:%s"; opens only if the libraries know such a protocol.
  int AddTask(const void* AStream, const std::string& APrivateData, TInputOptions* AOptions);
  bool AddInputFile(int ATaskIndex, const std::string& AFileName, TInputOptions* AOptions);
  bool AddInputFile(int ATaskIndex, const std::string& AFileName, const std::string& AExtOptions);
  bool SetOutputFile(int ATaskIndex, const std::string& AFileName, TOutputOptions* AOptions);
  bool SetOutputFile(int ATaskIndex, const std::string& AFileName, const std::string& AExtOptions);
  bool SetOutputStream(int ATaskIndex, const void* AStream, const std::string& APrivateData,
                       TOutputOptions* AOptions);
  void Exchange(int ATaskIndex1, int ATaskIndex2);
  void RemoveTask(int ATaskIndex);
  // Raises "Cannot ClearTasks while working." during a run; the way back to idle after one.
  void ClearTasks();
  // AThreadCount > 0: up to that many tasks at once on threads; otherwise every task runs to its
  // end inside Start, in list order.
  void Start(int AThreadCount);

  void Pause();
  void Resume();
  void Stop(bool AWaitForStop);

  bool LoadAVLib(const std::string& APath);
  bool AVLibLoaded() const;
  void UnloadAVLib();

  // --- Properties ---
  decoder::TFFDecoder* Decoder() const { return FDecoder.get(); }
  const std::string& LastErrMsg() const { return FLastErrMsg; }
  int TasksCount() const { return FFFmpegList.Count(); }
  TFFmpeg* Task(int index) const { return FFFmpegList.Items(index); }
  bool Preview() const { return FPreview; }
  void SetPreview(bool v);
  bool PreviewBitmap() const { return FPreviewBitmap; }
  void SetPreviewBitmap(bool v);
  int ProgressInterval() const { return FProgressInterval; }
  void SetProgressInterval(int ms) { FProgressInterval = ms < 100 ? 100 : ms; }
  TThreadPriority ThreadPriority() const { return FThreadPriority; }
  void SetThreadPriority(TThreadPriority p) { FThreadPriority = p; }
  bool TriggerEventInMainThread() const { return FTriggerEventInMainThread; }
  void SetTriggerEventInMainThread(bool v) { FTriggerEventInMainThread = v; }
  void* UserData() const { return FData; }
  void SetUserData(void* d) { FData = d; }
  int Verbose() const { return FVerbose; }
  void SetVerbose(int v) { FVerbose = v; }
  bool Terminated() const { return FTerminated; }
  bool Working() const { return FWorking; }

  void SetOnAudioHook(TAudioHookEvent e);
  void SetOnPreviewBitmap(TPreviewBitmapEvent e);
  void SetOnProgress(TProgressEvent e);
  void SetOnTerminate(TTerminateEvent e);
  void SetOnVideoInputHook(TVideoHookEvent e);
  void SetOnVideoInputHookQuery(TVideoHookQuery q);
  void SetOnVideoOutputHook(TVideoHookEvent e);

 protected:
  // Installed as the engine's callbacks of the same kind.
  virtual void HandleInputVideoHook(runtime::TObject* Sender, runtime::TBitmap* ABitmap,
                                    int AFrameNumber, int64_t APTS, bool& AUpdate, bool& AStopHook);
  // The whole frame without a query handler; nothing without a hook handler.
  runtime::TDrawArea HandleInputVideoHookQuery(runtime::TObject* Sender, int AWidth, int AHeight,
                                               int AFrameNumber, int64_t APTS, bool& AStopHook);
  virtual void HandleOutputVideoHook(runtime::TObject* Sender, runtime::TBitmap* ABitmap,
                                     int AFrameNumber, int64_t APTS, bool& AUpdate,
                                     bool& AStopHook);
  virtual void HandlePreviewBitmap(runtime::TObject* Sender, runtime::TBitmap* ABitmap,
                                   int AFrameNumber, int64_t APTS);
  virtual void HandleProgress(runtime::TObject* Sender, int AFileIndex, int AFrameNumber, int AFPS,
                              float AQuality, float ABitRate, int64_t ACurrentSize,
                              int64_t ACurrentDuration, int64_t ATotalDuration);
  virtual void HandleTerminate(runtime::TObject* Sender);
  void HandleAudioHook(runtime::TObject* Sender, int64_t APTS, uint8_t* ASample, int ASize,
                       int ASampleRate, int AChannels, int ASampleFormat);

 private:
  void CheckWorking(const char* AOperation) const;
  void StartNextTask();
  void FinishAllTasks();
  TOutputHooks HooksFor();
  // The task at the index when it can take one more input (output) file; else null with
  // LastErrMsg set.
  TFFmpeg* TaskWithRoom(int ATaskIndex, bool output);
  void VideoHook(const TVideoHookEvent& handler, runtime::TObject* Sender,
                 runtime::TBitmap* ABitmap, int AFrameNumber, int64_t APTS, bool& AUpdate,
                 bool& AStopHook);
  // Runs a progress or preview handler on the main thread or directly.
  void Raise(const std::function<void()>& call);
  // Hands a termination event to the handler: on a termination thread in thread mode (or after
  // the run), else at once; a failure of a handler called at once is returned.
  std::exception_ptr DeliverTerminate(const TTerminateInfo& info, bool after_all);
  // Starts a termination thread; `after_all` makes it wait for every other termination thread.
  void StartTerminateThread(const TTerminateInfo& info, bool after_all);
  void WaitForTerminateThreads();

  std::string FLastErrMsg;
  void* FData = nullptr;
  bool FPreview = false;
  bool FPreviewBitmap = false;
  int FProgressInterval = 500;
  TThreadPriority FThreadPriority = engine::tpNormal;
  bool FTriggerEventInMainThread = true;
  int FVerbose = 1;
  TProgressInfo FProgressInfo;    // Guarded by FProgressLock.
  TTerminateInfo FTerminateInfo;  // Guarded by FTerminateLock.
  TPreviewInfo FPreviewInfo;      // Guarded by FPreviewLock.
  THookInfo FVideoHookInfo;       // Guarded by FVideoHookLock.
  TAudioHookEvent FOnAudioHook;   // handlers: set on the main thread while no task runs
  TVideoHookEvent FOnInputVideoHook, FOnOutputVideoHook;
  TVideoHookQuery FOnInputVideoHookQuery;
  TPreviewBitmapEvent FOnPreviewBitmap;
  TProgressEvent FOnProgress;
  TTerminateEvent FOnTerminate;
  std::mutex FAudioHookLock, FPreviewLock, FProgressLock, FVideoHookLock;
  std::recursive_mutex FTerminateLock;  // also guards the counters; a synchronous run re-enters
  std::unique_ptr<decoder::TFFDecoder> FDecoder;
  TFFmpegList FFFmpegList;
  int FCompleteTasks = 0, FCurrentTask = -1, FPendingTasks = 0;  // Guarded by FTerminateLock.
  std::atomic<bool> FTerminated{false}, FThreadMode{false}, FWorking{false};

  // Termination threads still running; the final event waits for the others.
  std::mutex FThreadsLock;
  std::condition_variable FThreadsDone;
  int FTerminateThreads = 0;  // Guarded by FThreadsLock.
};

class TFFEncoder : public TCustomEncoder {};

}  // namespace trelvix::encoder
