#pragma once
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "encoder/hardware_encoder.h"

namespace Sorvane::test {

class FakeEncoder;

// What all fake encoders of one test share: counters and the knobs that shape their behaviour.
struct FakeEncoderWorld {
  std::atomic<int> created{0};
  std::atomic<int> clones{0};
  std::atomic<int> shutdowns{0};
  std::atomic<bool> failClone{false};
  // Configure fails for these codecs, as on a machine that cannot open them at that size.
  std::atomic<bool> refuseHevc{false};
  std::atomic<bool> refuseH264{false};
  std::atomic<int> configures{0};  // Configure calls, refused ones included
  // EncodeFrame throws this (as an allocation failure on the frame path would), when set.
  std::atomic<bool> throwOnEncode{false};
  // A clone's first keyframe comes after this many frames (a large value: never).
  std::atomic<int> cloneFramesBeforeKeyframe{0};
  // Encoders made from now on deliver each frame this many frames late, as hardware encoders
  // with a few frames in flight do; their first keyframe counts once it is delivered.
  std::atomic<int> outputLatency{0};
  // While set, output waits until ReleaseHeldOutput delivers it, as an encoder whose output
  // comes from its own thread after the frame's encode has returned.
  std::atomic<bool> holdOutput{false};
  // What the encoders report to run on: the first ones, and the copies made by Clone.
  std::atomic<EncoderKind> kind{EncoderKind::Unknown};
  std::atomic<EncoderKind> cloneKind{EncoderKind::Unknown};
  // While set, Clone waits inside the call (clonesWaiting counts the callers held there).
  std::atomic<bool> holdClones{false};
  std::atomic<int> clonesWaiting{0};
  // Run inside Configure and Shutdown, as an asynchronous encoder waits there for its output
  // thread. Set before the pipeline exists.
  std::function<void()> whileClosing;

  // Live encoders by serial, so a test can look at a copy it never owned.
  std::mutex liveLock;
  std::map<int, FakeEncoder*> live;  // guarded by liveLock

  // Output held back while holdOutput is set, in the order it was produced.
  struct HeldOutput {
    std::shared_ptr<const EncodedFrameCallback> callback;
    std::vector<uint8_t> data;
    bool keyframe;
    uint64_t timestampUs;
  };
  std::mutex heldLock;
  std::deque<HeldOutput> held;  // guarded by heldLock
  // Delivers what was held back, on the calling thread.
  void ReleaseHeldOutput() {
    std::deque<HeldOutput> out;
    {
      std::lock_guard<std::mutex> lock(heldLock);
      out.swap(held);
    }
    for (const HeldOutput& h : out)
      (*h.callback)(h.data.data(), h.data.size(), h.keyframe, h.timestampUs);
  }
};

// Runs `inspect` on the live encoder with that serial, which cannot be destroyed meanwhile;
// false when there is none.
inline bool WithEncoder(FakeEncoderWorld& world, int serial,
                        const std::function<void(FakeEncoder&)>& inspect) {
  std::lock_guard<std::mutex> lock(world.liveLock);
  const auto it = world.live.find(serial);
  if (it == world.live.end())
    return false;
  inspect(*it->second);
  return true;
}

inline size_t LiveEncoders(FakeEncoderWorld& world) {
  std::lock_guard<std::mutex> lock(world.liveLock);
  return world.live.size();
}

// A synchronous encoder: every frame produces one access unit inside EncodeFrame, whose first
// byte is the encoder's serial number (1 for the first encoder of a world, then 2, 3, ...).
// Configure requests a keyframe; it comes out once the frame count passes framesBeforeKeyframe.
class FakeEncoder final : public IHardwareEncoder {
 public:
  explicit FakeEncoder(std::shared_ptr<FakeEncoderWorld> world, int framesBeforeKeyframe = 0,
                       bool isClone = false)
      : world_(std::move(world)),
        serial_(++world_->created),
        keyAfter_(framesBeforeKeyframe),
        latency_(world_->outputLatency.load()),
        isClone_(isClone) {
    std::lock_guard<std::mutex> lock(world_->liveLock);
    world_->live[serial_] = this;
  }
  ~FakeEncoder() override {
    std::lock_guard<std::mutex> lock(world_->liveLock);
    world_->live.erase(serial_);
  }

  int serial() const { return serial_; }
  int Frames() const { return frames_; }
  int Emergencies() const { return emergencies_; }
  int ForcedKeyframes() const { return forced_; }
  int KeyframeRequests() const { return keyRequests_; }
  float Quality() const { return quality_; }
  // Emits an access unit as an asynchronous encoder might, late and from any thread.
  void EmitLate() {
    const uint8_t data[2] = {static_cast<uint8_t>(serial_), 0xEE};
    Deliver(data, sizeof data, false, 0);
  }

  bool Configure(int w, int h, uint32_t bps, int fps) override {
    if (world_->whileClosing)
      world_->whileClosing();
    ++world_->configures;
    configured_ = false;
    if (w < 16 || h < 16 || fps < 1)
      return false;
    if (codec_ == Codec::HEVC ? world_->refuseHevc.load() : world_->refuseH264.load())
      return false;
    width_ = w;
    height_ = h;
    fps_ = fps;
    bitrate_ = bps ? bps : kDefaultBitrateBps;
    configured_ = true;
    produced_ = false;
    keyRequested_ = true;
    inFlight_.clear();  // a reopened encoder forgets what it held
    return true;
  }
  void Shutdown() override {
    if (world_->whileClosing)
      world_->whileClosing();
    configured_ = false;
    ++world_->shutdowns;
  }
  bool IsConfigured() const override { return configured_; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int FrameRate() const override { return fps_; }
  std::string Description() const override {
    if (!configured_)
      return "";
    return codec_ == Codec::H264 ? "fake [H.264]" : "fake [HEVC]";
  }
  void EncodeFrame(const uint8_t*, int, int, int) override {
    if (!configured_)
      return;
    if (world_->throwOnEncode)
      throw std::bad_alloc();
    ++frames_;
    const bool key = frames_ > keyAfter_ && keyRequested_.exchange(false);
    inFlight_.push_back({frames_.load(), key});
    while (static_cast<int>(inFlight_.size()) > latency_) {
      const Unit unit = inFlight_.front();
      inFlight_.pop_front();
      if (unit.key)
        produced_ = true;
      const uint8_t data[2] = {static_cast<uint8_t>(serial_), static_cast<uint8_t>(unit.frame)};
      Deliver(data, sizeof data, unit.key, static_cast<uint64_t>(unit.frame));
    }
  }
  void RequestKeyframe() override {
    ++keyRequests_;
    keyRequested_ = true;
  }
  void ForceKeyframe() override {
    ++forced_;
    keyRequested_ = true;
  }
  void SetBitrate(uint32_t bps) override { bitrate_ = bps; }
  uint32_t Bitrate() const override { return bitrate_; }
  void SetPeakBitrate(uint32_t bps) override { peak_ = bps; }
  uint32_t PeakBitrate() const { return peak_; }
  void SetGopSize(int frames) override { gop_ = frames; }
  int GopSize() const override { return gop_; }
  void SetCodec(Codec codec) override { codec_ = codec; }
  Codec GetCodec() const override { return codec_; }
  void SetRateControl(RateControlMode mode, float quality) override {
    rc_ = mode;
    quality_ = quality;
  }
  RateControlMode GetRateControl() const override { return rc_; }
  void CompressEmergency(int) override {
    ++emergencies_;
    keyRequested_ = true;
  }
  void SetFrameCap(uint32_t cap) override { frameCap_ = ClampFrameCap(cap); }
  uint32_t FrameCap() const override { return frameCap_; }
  // Swapped while another thread may be delivering, as real encoders allow: a delivery runs the
  // callback it took, outside the lock.
  void SetOutputCallback(EncodedFrameCallback callback) override {
    auto next = std::make_shared<const EncodedFrameCallback>(std::move(callback));
    std::lock_guard<std::mutex> lock(callbackLock_);
    callback_ = std::move(next);
  }
  std::unique_ptr<IHardwareEncoder> Clone(const EncoderSettings& s) override {
    if (world_->holdClones) {
      ++world_->clonesWaiting;
      while (world_->holdClones)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      --world_->clonesWaiting;
    }
    if (world_->failClone)
      return nullptr;
    ++world_->clones;
    auto clone =
        std::make_unique<FakeEncoder>(world_, world_->cloneFramesBeforeKeyframe.load(), true);
    clone->gop_ = s.gopFrames < 1 ? 1 : s.gopFrames;
    clone->codec_ = s.codec;
    clone->rc_ = s.rateControl;
    clone->quality_ = s.quality;
    clone->frameCap_ = ClampFrameCap(s.frameCap);
    if (!clone->Configure(s.width, s.height, s.bitrateBps, s.fps))
      return nullptr;
    return clone;
  }
  bool HasProducedKeyframe() const override { return produced_; }
  EncoderKind Kind() const override {
    return isClone_ ? world_->cloneKind.load() : world_->kind.load();
  }

 private:
  struct Unit {
    int frame;
    bool key;
  };

  std::shared_ptr<FakeEncoderWorld> world_;
  const int serial_;
  const int keyAfter_;
  const int latency_;
  const bool isClone_;
  std::deque<Unit> inFlight_;  // owned by the encoding thread
  std::atomic<bool> configured_{false};
  std::atomic<int> width_{0}, height_{0}, fps_{30}, gop_{1}, frames_{0};
  std::atomic<int> emergencies_{0}, forced_{0}, keyRequests_{0};
  std::atomic<uint32_t> bitrate_{0}, peak_{0}, frameCap_{kDefaultFrameCap};
  std::atomic<Codec> codec_{Codec::HEVC};
  std::atomic<RateControlMode> rc_{RateControlMode::Bitrate};
  std::atomic<float> quality_{0.75f};
  std::atomic<bool> keyRequested_{false}, produced_{false};
  std::mutex callbackLock_;
  std::shared_ptr<const EncodedFrameCallback> callback_;  // guarded by callbackLock_

  void Deliver(const uint8_t* data, size_t size, bool key, uint64_t timestampUs) {
    std::shared_ptr<const EncodedFrameCallback> callback;
    {
      std::lock_guard<std::mutex> lock(callbackLock_);
      callback = callback_;
    }
    if (!callback || !*callback)
      return;
    if (world_->holdOutput) {
      std::lock_guard<std::mutex> lock(world_->heldLock);
      world_->held.push_back({callback, std::vector<uint8_t>(data, data + size), key, timestampUs});
      return;
    }
    (*callback)(data, size, key, timestampUs);
  }
};

}  // namespace Sorvane::test
