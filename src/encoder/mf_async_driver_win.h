#pragma once
#include <mfidl.h>
#include <mftransform.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>

#include "base/thread_annotations.h"
#include "encoder/com_ref_win.h"
#include "encoder/encoded_output.h"
#include "encoder/repeating_line.h"

namespace Sorvane {

class AsyncEventCallback;

// Drives an asynchronous encoder transform by its events: each need-input event takes the oldest
// waiting frame or is banked; each have-output event collects one output and delivers it. At
// most two converted frames wait.
//
// Lock order: the encoder's lock before the callback's mutex (Stop) and before queueLock_
// (Push); the callback's mutex before queueLock_ (events). The event path never takes the
// encoder's lock, and output is delivered with the callback's mutex and queueLock_ held, so the
// output callback must not call into the encoder.
class AsyncTransformDriver {
 public:
  // Told of every failure, on whatever thread met it (an event's, or a push's under the
  // encoder's lock), with whether the event loop has stopped for good; it must take no lock of
  // the encoder's.
  using FailureSink = std::function<void(HRESULT status, bool loopStopped)>;

  AsyncTransformDriver(IMFTransform* transform, Codec codec, EncodedOutput& output,
                       FailureSink onFailure);
  ~AsyncTransformDriver();
  AsyncTransformDriver(const AsyncTransformDriver&) = delete;
  AsyncTransformDriver& operator=(const AsyncTransformDriver&) = delete;

  // Arms the event loop and starts streaming; false (logged) when the transform cannot be driven.
  bool Start();
  // Hands over one converted, stamped frame (called under the encoder's lock).
  void Push(ComRef<IMFSample> sample);
  // Ends the event loop: waits for an event in progress, then drops waiting frames. The caller
  // shuts the transform down afterwards.
  void Stop();

  // Called by the callback object with its mutex held.
  void OnEvent(IMFAsyncResult* result);

 private:
  void Rearm();
  void Submit(IMFSample* sample, const char* failureLine) REQUIRES(queueLock_);
  void CollectOutput() REQUIRES(queueLock_);
  void Failed(RepeatingLine& line, const char* format, HRESULT status, bool loopStopped);

  IMFTransform* const transform_;  // owned by the encoder, outlives the driver
  const Codec codec_;
  EncodedOutput& output_;
  const FailureSink onFailure_;
  // Each failure can repeat with every frame or event; one line a second of each.
  RepeatingLine inputFailures_;
  RepeatingLine outputFailures_;
  RepeatingLine errorEvents_;
  ComRef<IMFMediaEventGenerator> generator_;
  AsyncEventCallback* callback_ = nullptr;  // one reference of ours
  std::atomic<bool> stopping_{false};

  std::mutex queueLock_;
  std::deque<ComRef<IMFSample>> queue_ GUARDED_BY(queueLock_);
  int needInput_ GUARDED_BY(queueLock_) = 0;
};

}  // namespace Sorvane
