#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include "base/reader_preferring_mutex.h"
#include "base/thread_annotations.h"
#include "encoder/hardware_encoder.h"

namespace Sorvane {

// Owns one instance's video encoder and changes its settings without a gap: by default a
// reconfigured copy warms up beside the current encoder and takes over at its first keyframe.
class EncoderPipeline {
 public:
  enum class Mode : int32_t { Seamless = 0, Conservative = 1 };

  explicit EncoderPipeline(std::shared_ptr<IHardwareEncoder> encoder);
  ~EncoderPipeline();
  EncoderPipeline(const EncoderPipeline&) = delete;
  EncoderPipeline& operator=(const EncoderPipeline&) = delete;

  void SetOutputCallback(EncodedFrameCallback callback);
  void Encode(const uint8_t* pixels, int width, int height, int rowBytes);
  bool Configure(int width, int height, uint32_t bitrateBps, int fps);
  void Reconfigure(const EncoderSettings& settings);

  // Forwarded to the current encoder and to a warming copy.
  void RequestKeyframe();
  void SetGopSize(int frames);
  void SetCodec(Codec codec);
  void SetRateControl(RateControlMode mode, float quality);
  // Current encoder only.
  void CompressEmergency(int frames);
  // The quality the pipeline is heading for: the last one the client set, or a request carried.
  float Quality() const;

  bool IsReady() const;
  int Width() const;
  int Height() const;
  int FrameRate() const;
  std::string Description() const;
  int GopSize() const;
  Codec GetCodec() const;
  RateControlMode GetRateControl() const;
  uint32_t Bitrate() const;
  uint32_t FrameCap() const;

  // Where the pipeline is heading: a requested transition's target, else the current encoder's.
  int TargetWidth() const;
  int TargetHeight() const;
  int TargetFps() const;

  void Shutdown();

  Mode CurrentMode() const { return static_cast<Mode>(mode_.load()); }
  void SetMode(Mode mode) { mode_.store(static_cast<int32_t>(mode)); }

 private:
  // The codec settings the client chose last, whichever encoder they reach first.
  struct StreamShape {
    Codec codec = Codec::HEVC;
    int gopFrames = 1;
    RateControlMode rateControl = RateControlMode::Bitrate;
    float quality = 0.75f;
  };

  struct HandOver;
  void InstallPrimaryCallback(IHardwareEncoder& encoder);
  void InstallCopyCallback(IHardwareEncoder& copy, std::shared_ptr<HandOver> handOver);
  static void Hold(HandOver& handOver, const uint8_t* data, size_t size, bool keyframe,
                   uint64_t timestampUs);
  void TakeOver(const IHardwareEncoder* identity, HandOver& handOver);
  void Deliver(const uint8_t* data, size_t size, bool keyframe, uint64_t timestampUs);
  void CloneLoop();
  bool AcceptCloneKind(const IHardwareEncoder* primary, std::shared_ptr<IHardwareEncoder>& clone);
  void PublishClone(std::shared_ptr<IHardwareEncoder> clone, std::shared_ptr<HandOver> handOver,
                    const EncoderSettings& s, uint64_t generation, int64_t startedNs);
  void ReconfigureInPlaceAsDesired(const EncoderSettings& settings);
  static StreamShape ShapeOf(const EncoderSettings& settings);
  StreamShape Desired(uint64_t* generation) const;
  void SetDesired(const std::function<void(StreamShape&)>& change);
  void ReopenIfLost(IHardwareEncoder& encoder, const char* which);
  void WaitForFirstKeyframe(int64_t startedNs);
  void EndBuilding();
  void RetireLoop();
  void Retire(std::shared_ptr<IHardwareEncoder> encoder);
  void TryPromotePending();
  void ReconfigureInPlace(const EncoderSettings& settings);
  void Forward(const std::function<void(IHardwareEncoder&)>& apply);
  void ForwardSetting(const std::function<void(StreamShape&)>& change,
                      const std::function<void(IHardwareEncoder&)>& apply);
  uint64_t SetTarget(const EncoderSettings& settings);
  void ClearTarget(uint64_t generation);
  std::shared_ptr<IHardwareEncoder> CopyPrimary() const;

  // Lock order: shutdownLock_ first; primaryLock_ before pendingLock_ (the swap, and the output
  // path coming back in); pendingLock_ before requestLock_ (the duplicate check); retireLock_ may
  // nest inside pendingLock_, targetLock_ inside requestLock_, desiredLock_ innermost of all.
  // Nobody waits for primaryLock_ while holding pendingLock_. callbackLock_ is taken by the output
  // filter, inside a synchronous encode under primaryLock_ shared, and after a copy's hand-over
  // lock (HandOver::lock, which is held with nothing else but that shared hold); the instance's
  // callback it guards may come back in through primaryLock_ shared and pendingLock_, which is
  // safe because a shared holder never waits for a writer that is merely waiting, and a swap
  // waiting for the lock holds nothing else.
  std::mutex shutdownLock_;  // serialises Shutdown (the control thread and the destructor)
  // Held while the primary is configured in place or fed a frame, so frames wait for an
  // in-place reconfigure to finish; taken before primaryLock_ and pendingLock_. The encoder
  // itself is never configured or shut down under primaryLock_ exclusive.
  std::mutex exchangeLock_;

  // A synchronous encoder delivers inside EncodeFrame while its caller holds primaryLock_ shared,
  // and the instance's output path comes back in (keyframe requests, emergency compression,
  // GopSize): the lock admits a second shared holder even while a writer waits.
  mutable ReaderPreferringSharedMutex primaryLock_;
  std::shared_ptr<IHardwareEncoder> primary_ GUARDED_BY(primaryLock_);
  // The primary's identity for the output filter, published under primaryLock_ (exclusive), so
  // the filter needs no lock at all. Atomic.
  std::atomic<const IHardwareEncoder*> primaryIdentity_{nullptr};

  std::mutex pendingLock_;
  std::shared_ptr<IHardwareEncoder> pending_ GUARDED_BY(pendingLock_);
  bool pendingExists_ GUARDED_BY(pendingLock_) = false;
  int64_t transitionStartedAtNs_ GUARDED_BY(pendingLock_) = 0;
  uint32_t pendingFrames_ GUARDED_BY(pendingLock_) = 0;
  EncoderSettings pendingSettings_ GUARDED_BY(pendingLock_);
  uint64_t pendingGeneration_ GUARDED_BY(pendingLock_) = 0;
  std::shared_ptr<HandOver> pendingHandOver_ GUARDED_BY(pendingLock_);

  std::atomic<int32_t> mode_{0};

  // A copy is built with the settings of its request; a setter arriving meanwhile reaches only
  // the current encoder. The copy is given what changed before it is published (the generation
  // tells whether a setter slipped in), and a setter after that reaches it as the warming copy.
  mutable std::mutex desiredLock_;
  StreamShape desired_ GUARDED_BY(desiredLock_);
  uint64_t desiredGeneration_ GUARDED_BY(desiredLock_) = 0;

  std::mutex callbackLock_;
  EncodedFrameCallback outputCallback_ GUARDED_BY(callbackLock_);

  std::mutex retireLock_;
  std::deque<std::shared_ptr<IHardwareEncoder>> retireQueue_ GUARDED_BY(retireLock_);
  std::condition_variable retireCv_;
  std::thread retireThread_;
  std::atomic<bool> retireStop_{false};

  std::mutex requestLock_;
  std::condition_variable requestCv_;
  std::thread cloneThread_;
  EncoderSettings requestedSettings_ GUARDED_BY(requestLock_);
  bool requestPending_ GUARDED_BY(requestLock_) = false;
  uint64_t requestedGeneration_ GUARDED_BY(requestLock_) = 0;
  // CloneLoop has taken a request and not yet made it the warming copy (or applied it in place).
  bool building_ GUARDED_BY(requestLock_) = false;
  EncoderSettings buildingSettings_ GUARDED_BY(requestLock_);
  std::atomic<bool> cloneStop_{false};

  // Read without a lock (atomics); written under targetLock_ so that only the transition that
  // set them clears them, never an older one finishing late.
  std::mutex targetLock_;
  uint64_t targetGeneration_ GUARDED_BY(targetLock_) = 0;
  std::atomic<int32_t> targetWidth_{0};
  std::atomic<int32_t> targetHeight_{0};
  std::atomic<int32_t> targetFps_{0};
};

// Appends one row to transitions.csv in the debug-log folder (header first in a new file);
// negative durations are written as empty fields.
void WriteTransitionRow(const char* mode, int fromW, int fromH, int toW, int toH, double cloneMs,
                        double firstKeyMs, double swapMs, double totalMs, int framesDropped,
                        const char* error);

}  // namespace Sorvane
