#pragma once
#include <mfidl.h>
#include <mftransform.h>

#include <atomic>
#include <deque>
#include <mutex>

#include "base/thread_annotations.h"
#include "encoder/com_ref_win.h"
#include "encoder/encoded_output.h"

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
  AsyncTransformDriver(IMFTransform* transform, Codec codec, EncodedOutput& output);
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

  IMFTransform* const transform_;  // owned by the encoder, outlives the driver
  const Codec codec_;
  EncodedOutput& output_;
  ComRef<IMFMediaEventGenerator> generator_;
  AsyncEventCallback* callback_ = nullptr;  // one reference of ours
  std::atomic<bool> stopping_{false};

  std::mutex queueLock_;
  std::deque<ComRef<IMFSample>> queue_ GUARDED_BY(queueLock_);
  int needInput_ GUARDED_BY(queueLock_) = 0;
};

}  // namespace Sorvane
