#include "host/encoder_pipeline.h"

#include <algorithm>
#include <chrono>

#include "base/clock.h"
#include "diag/crash_handler.h"
#include "diag/debug_topics.h"
#include "diag/log_channels.h"
#include "encoder/encoder_thread.h"

namespace Sorvane {
namespace {

constexpr int kKeyframeWaitRounds = 100;
constexpr auto kKeyframeWaitRound = std::chrono::milliseconds(5);

double MsSince(int64_t startNs) {
  return (SteadyNowNs() - startNs) / 1'000'000.0;
}

const char* ModeLabel(int32_t mode) {
  return mode == 1 ? "Conservative" : "Seamless";
}

// Requests equal in these fields build the same encoder; bitrate and quality differences are
// applied live and never warrant a copy.
bool SameShape(const EncoderSettings& a, const EncoderSettings& b) {
  return a.width == b.width && a.height == b.height && a.fps == b.fps && a.codec == b.codec &&
         a.gopFrames == b.gopFrames && a.rateControl == b.rateControl;
}

const char* KindLabel(EncoderKind kind) {
  return kind == EncoderKind::Hardware ? "hardware" : "software";
}

// Units a copy keeps for its hand-over, at most (a long GOP warms up with many P-frames).
constexpr size_t kMaxHeldUnits = 32;

}  // namespace

EncoderPipeline::EncoderPipeline(std::shared_ptr<IHardwareEncoder> encoder) {
  {
    std::unique_lock lock(primaryLock_);
    primary_ = std::move(encoder);
    primaryIdentity_.store(primary_.get());
    if (primary_) {
      std::lock_guard<std::mutex> desired(desiredLock_);
      desired_.codec = primary_->GetCodec();
      desired_.gopFrames = primary_->GopSize();
      desired_.rateControl = primary_->GetRateControl();
    }
  }
  retireThread_ = std::thread(&EncoderPipeline::RetireLoop, this);
  try {
    cloneThread_ = std::thread(&EncoderPipeline::CloneLoop, this);
  } catch (...) {
    Shutdown();  // a joinable thread member would end the process as the exception unwinds
    throw;
  }
  if (auto primary = CopyPrimary())
    InstallPrimaryCallback(*primary);
}

EncoderPipeline::~EncoderPipeline() {
  Shutdown();
}

std::shared_ptr<IHardwareEncoder> EncoderPipeline::CopyPrimary() const {
  std::shared_lock lock(primaryLock_);
  return primary_;
}

void EncoderPipeline::SetOutputCallback(EncodedFrameCallback callback) {
  std::lock_guard<std::mutex> lock(callbackLock_);
  outputCallback_ = std::move(callback);
}

// The filter compares against primaryIdentity_ instead of reading primary_ under primaryLock_:
// a synchronous encoder calls it inside EncodeFrame, where the pushing thread already holds the
// lock shared. The identity only changes under the exclusive lock, which cannot be granted while
// that encode runs, so the answer is as exact as a locked read, and the filter can never queue
// behind a waiting writer. An encoder is alive while it can call back, so its address is not
// reused meanwhile.
void EncoderPipeline::InstallPrimaryCallback(IHardwareEncoder& encoder) {
  const IHardwareEncoder* identity = &encoder;
  encoder.SetOutputCallback(
      [this, identity](const uint8_t* data, size_t size, bool keyframe, uint64_t timestampUs) {
        if (primaryIdentity_.load() != identity)
          return;  // a replaced encoder's late output
        Deliver(data, size, keyframe, timestampUs);
      });
}

void EncoderPipeline::Deliver(const uint8_t* data, size_t size, bool keyframe,
                              uint64_t timestampUs) {
  std::lock_guard<std::mutex> lock(callbackLock_);
  if (outputCallback_)
    outputCallback_(data, size, keyframe, timestampUs);
}

// A copy's output on its way to taking over. While it warms, nothing before its first keyframe
// is kept, and from then on what it delivers: a hardware encoder has frames in flight, and the
// ones it delivers after the swap refer to that keyframe. When it takes over, what was kept goes
// to the client first, so the client never gets a picture whose reference it lacks, and the
// frames in flight are not lost either.
struct EncoderPipeline::HandOver {
  struct Unit {
    std::vector<uint8_t> data;
    bool keyframe;
    uint64_t timestampUs;
  };
  std::mutex lock;
  std::deque<Unit> held;       // guarded by lock
  bool passing = false;        // taken over: straight through; guarded by lock
  bool awaitKeyframe = false;  // nothing was kept: wait for one; guarded by lock
  int dropped = 0;             // guarded by lock
};

void EncoderPipeline::InstallCopyCallback(IHardwareEncoder& copy,
                                          std::shared_ptr<HandOver> handOver) {
  const IHardwareEncoder* identity = &copy;
  copy.SetOutputCallback([this, identity, handOver](const uint8_t* data, size_t size, bool keyframe,
                                                    uint64_t timestampUs) {
    {
      std::lock_guard<std::mutex> lock(handOver->lock);
      if (!handOver->passing) {
        Hold(*handOver, data, size, keyframe, timestampUs);
        return;
      }
      if (handOver->awaitKeyframe) {
        if (!keyframe) {
          ++handOver->dropped;
          return;
        }
        handOver->awaitKeyframe = false;
        DebugTopicLog(DebugTopic::Transitions, "first keyframe after the swap; %d frames dropped",
                      handOver->dropped);
      }
    }
    if (primaryIdentity_.load() == identity)
      Deliver(data, size, keyframe, timestampUs);
  });
}

// Everything from the first keyframe on: when the swap comes late, the client sees a few
// pictures twice rather than miss any. When that grows too long, a keyframe starts afresh.
void EncoderPipeline::Hold(HandOver& handOver, const uint8_t* data, size_t size, bool keyframe,
                           uint64_t timestampUs) {
  auto& held = handOver.held;
  if (held.size() >= kMaxHeldUnits)
    held.clear();
  if (held.empty() && !keyframe)
    return;  // refers to nothing the client will get
  held.push_back({std::vector<uint8_t>(data, data + size), keyframe, timestampUs});
}

void EncoderPipeline::TakeOver(const IHardwareEncoder* identity, HandOver& handOver) {
  std::lock_guard<std::mutex> lock(handOver.lock);
  handOver.awaitKeyframe = handOver.held.empty();
  if (primaryIdentity_.load() == identity) {
    for (const HandOver::Unit& unit : handOver.held)
      Deliver(unit.data.data(), unit.data.size(), unit.keyframe, unit.timestampUs);
  }
  handOver.held.clear();
  handOver.passing = true;
}

void EncoderPipeline::Encode(const uint8_t* pixels, int width, int height, int rowBytes) {
  {
    std::lock_guard<std::mutex> exchange(exchangeLock_);
    std::shared_ptr<IHardwareEncoder> lost;
    {
      std::shared_lock lock(primaryLock_);
      if (primary_) {
        primary_->EncodeFrame(pixels, width, height, rowBytes);
        if (primary_->NeedsReopen())
          lost = primary_;
      }
    }
    // Outside primaryLock_, as every Configure (see ReconfigureInPlace).
    if (lost)
      ReopenIfLost(*lost, "current");
  }
  std::shared_ptr<IHardwareEncoder> warming;
  {
    std::lock_guard<std::mutex> lock(pendingLock_);
    if (pendingExists_) {
      warming = pending_;
      ++pendingFrames_;
    }
  }
  if (warming) {
    warming->EncodeFrame(pixels, width, height, rowBytes);
    ReopenIfLost(*warming, "warming");
  }
  TryPromotePending();
}

// An encoder that lost its device (or whose transform stopped answering) fails every frame until
// it is opened again; waiting for the stall rebuild would cost seconds of picture.
void EncoderPipeline::ReopenIfLost(IHardwareEncoder& encoder, const char* which) {
  if (!encoder.NeedsReopen())
    return;
  const int width = encoder.Width(), height = encoder.Height(), fps = encoder.FrameRate();
  Log(channels::kEncoder, kLogError,
      "%s encoder can no longer encode — reopening %dx%d @ %d fps now", which, width, height, fps);
  if (!encoder.Configure(width, height, encoder.Bitrate(), fps)) {
    Log(channels::kEncoder, kLogError, "%s encoder could not be reopened after the loss", which);
    return;
  }
  encoder.RequestKeyframe();
}

bool EncoderPipeline::Configure(int width, int height, uint32_t bitrateBps, int fps) {
  std::lock_guard<std::mutex> exchange(exchangeLock_);
  const std::shared_ptr<IHardwareEncoder> primary = CopyPrimary();
  return primary ? primary->Configure(width, height, bitrateBps, fps) : false;
}

void EncoderPipeline::Reconfigure(const EncoderSettings& settings) {
  if (mode_.load() == static_cast<int32_t>(Mode::Conservative)) {
    SetDesired([&settings](StreamShape& shape) { shape = ShapeOf(settings); });
    ReconfigureInPlace(settings);
    return;
  }
  {
    // Compared against what the pipeline will end up with: the queued request, else the one
    // being built, else the warming copy. Taking both locks makes that one decision, so a
    // duplicate arriving while its twin is being built is still caught, and a request matching
    // a warming copy that a queued one is about to replace is not lost.
    std::lock_guard<std::mutex> pendingGuard(pendingLock_);
    std::lock_guard<std::mutex> requestGuard(requestLock_);
    if (requestPending_) {
      if (SameShape(requestedSettings_, settings))
        return;
    } else if (building_) {
      if (SameShape(buildingSettings_, settings))
        return;
    } else if (pendingExists_ && SameShape(pendingSettings_, settings)) {
      return;
    }
    // Before CloneLoop can take it: a copy is never published with an older shape than its own.
    SetDesired([&settings](StreamShape& shape) { shape = ShapeOf(settings); });
    requestedGeneration_ = SetTarget(settings);
    requestedSettings_ = settings;
    requestPending_ = true;
  }
  requestCv_.notify_one();
}

// The encoder is acted on through a reference held outside primaryLock_: an asynchronous
// encoder's Configure waits for its output thread, whose callback may come back in through
// primaryLock_ shared, so holding the lock exclusively here would deadlock the two.
// exchangeLock_ keeps the frame path and other in-place reconfigures out meanwhile.
void EncoderPipeline::ReconfigureInPlace(const EncoderSettings& s) {
  std::lock_guard<std::mutex> exchange(exchangeLock_);
  const std::shared_ptr<IHardwareEncoder> primary = CopyPrimary();
  if (!primary)
    return;
  const int fromW = primary->Width(), fromH = primary->Height();
  const int64_t started = SteadyNowNs();
  primary->SetCodec(s.codec);
  primary->SetGopSize(s.gopFrames > 1 ? s.gopFrames : 1);
  primary->SetRateControl(s.rateControl, s.quality);
  primary->SetFrameCap(s.frameCap != 0 ? s.frameCap : kDefaultFrameCap);
  primary->Configure(s.width, s.height, s.bitrateBps, s.fps);
  if (s.peakBitrateBps != 0)
    primary->SetPeakBitrate(s.peakBitrateBps);
  primary->ForceKeyframe();
  const double durationMs = MsSince(started);
  DebugTopicLog(DebugTopic::Transitions,
                "single-encoder reconfigure fromW=%d fromH=%d toW=%d toH=%d durationMs=%.1f "
                "framesDropped=0",
                fromW, fromH, s.width, s.height, durationMs);
  WriteTransitionRow("Conservative", fromW, fromH, s.width, s.height, -1, -1, -1, durationMs, 0,
                     "");
}

// The request's size with what the client chose last: a setter that reached only the current
// encoder while the copy was being built must not be undone by the fallback.
void EncoderPipeline::ReconfigureInPlaceAsDesired(const EncoderSettings& settings) {
  for (;;) {
    uint64_t seen = 0;
    const StreamShape shape = Desired(&seen);
    EncoderSettings s = settings;
    s.codec = shape.codec;
    s.gopFrames = shape.gopFrames;
    s.rateControl = shape.rateControl;
    s.quality = shape.quality;
    ReconfigureInPlace(s);
    uint64_t now = 0;
    Desired(&now);
    if (now == seen)
      return;
  }
}

void EncoderPipeline::CloneLoop() {
  PrepareThreadForCrashes();
  const EncoderThreadScope encoderThread;  // clones activate encoder transforms here
  for (;;) {
    EncoderSettings s;
    uint64_t generation = 0;
    {
      std::unique_lock<std::mutex> lock(requestLock_);
      requestCv_.wait(lock, [this] { return cloneStop_.load() || requestPending_; });
      if (cloneStop_.load())
        return;
      s = requestedSettings_;
      generation = requestedGeneration_;
      requestPending_ = false;
      building_ = true;
      buildingSettings_ = s;
    }
    const int64_t started = SteadyNowNs();
    const std::shared_ptr<IHardwareEncoder> primary = CopyPrimary();
    const int fromW = primary ? primary->Width() : 0, fromH = primary ? primary->Height() : 0;
    DebugTopicLog(DebugTopic::Transitions,
                  "begin mode=%s fromW=%d fromH=%d toW=%d toH=%d codec=%s rc=%s gop=%d bps=%u",
                  ModeLabel(mode_.load()), fromW, fromH, s.width, s.height, CodecLabel(s.codec),
                  RateControlLabel(s.rateControl), s.gopFrames, s.bitrateBps);
    {
      std::lock_guard<std::mutex> lock(pendingLock_);
      if (pendingExists_) {
        Retire(std::move(pending_));
        pendingHandOver_.reset();
        pendingExists_ = false;
      }
    }
    std::shared_ptr<IHardwareEncoder> clone;
    {
      std::shared_lock lock(primaryLock_);
      if (primary_)
        clone = primary_->Clone(s);
    }
    if (!clone || !AcceptCloneKind(primary.get(), clone)) {
      DebugTopicLog(DebugTopic::Transitions,
                    "clone failed — falling back to conservative in-place reconfigure");
      const double elapsed = MsSince(started);
      WriteTransitionRow("Seamless", fromW, fromH, s.width, s.height, elapsed, -1, -1, elapsed, 0,
                         "clone_failed");
      // In place directly rather than by flipping the shared mode: a Reconfigure arriving on the
      // pushing thread meanwhile stays seamless, and a SetMode meanwhile is not undone. The
      // target is cleared only afterwards, so the pushing thread never sees the old size as the
      // goal and asks for the same switch again.
      ReconfigureInPlaceAsDesired(s);
      ClearTarget(generation);
      EndBuilding();
      continue;
    }
    DebugTopicLog(DebugTopic::Transitions, "clone ok cloneSetupMs=%.1f", MsSince(started));
    auto handOver = std::make_shared<HandOver>();
    InstallCopyCallback(*clone, handOver);
    PublishClone(std::move(clone), std::move(handOver), s, generation, started);
    EndBuilding();
    WaitForFirstKeyframe(started);
  }
}

// A copy of a hardware encoder that could only open in software (the hardware took no second
// session) would quietly downgrade the stream when it takes over; the in-place reconfigure keeps
// the hardware, at the price of frames waiting while it reopens.
bool EncoderPipeline::AcceptCloneKind(const IHardwareEncoder* primary,
                                      std::shared_ptr<IHardwareEncoder>& clone) {
  const EncoderKind current = primary ? primary->Kind() : EncoderKind::Unknown;
  const EncoderKind copy = clone->Kind();
  if (current == EncoderKind::Unknown || copy == EncoderKind::Unknown || current == copy)
    return true;
  Log(channels::kEncoder, kLogInfo,
      "seamless switch: the copy opened in %s where the stream runs in %s — rejected; "
      "reconfiguring in place instead (frames wait while the encoder reopens)",
      KindLabel(copy), KindLabel(current));
  Retire(std::move(clone));
  return false;
}

// The copy was built from its request; what the client changed since is applied to it before it
// becomes the warming copy, and again whenever a setter slipped in meanwhile.
void EncoderPipeline::PublishClone(std::shared_ptr<IHardwareEncoder> clone,
                                   std::shared_ptr<HandOver> handOver, const EncoderSettings& s,
                                   uint64_t generation, int64_t startedNs) {
  float quality = s.quality;
  for (;;) {
    uint64_t seen = 0;
    const StreamShape shape = Desired(&seen);
    if (clone->GetCodec() != shape.codec)
      clone->SetCodec(shape.codec);
    if (clone->GopSize() != shape.gopFrames)
      clone->SetGopSize(shape.gopFrames);
    if (clone->GetRateControl() != shape.rateControl || quality != shape.quality)
      clone->SetRateControl(shape.rateControl, shape.quality);
    quality = shape.quality;
    std::lock_guard<std::mutex> lock(pendingLock_);
    {
      std::lock_guard<std::mutex> desired(desiredLock_);
      if (desiredGeneration_ != seen)
        continue;
    }
    pending_ = std::move(clone);
    pendingHandOver_ = std::move(handOver);
    pendingExists_ = true;
    pendingFrames_ = 0;
    transitionStartedAtNs_ = startedNs;
    pendingSettings_ = s;
    pendingGeneration_ = generation;
    return;
  }
}

void EncoderPipeline::EndBuilding() {
  std::lock_guard<std::mutex> lock(requestLock_);
  building_ = false;
}

// Only for the log: promotion happens on the pushing thread whenever the keyframe comes.
void EncoderPipeline::WaitForFirstKeyframe(int64_t startedNs) {
  for (int round = 0; round < kKeyframeWaitRounds; ++round) {
    if (cloneStop_.load())
      return;
    std::this_thread::sleep_for(kKeyframeWaitRound);
    std::lock_guard<std::mutex> lock(pendingLock_);
    if (!pendingExists_)
      return;
    if (pending_->HasProducedKeyframe()) {
      DebugTopicLog(DebugTopic::Transitions, "pending ready after %d frames firstKeyMs=%.1f",
                    static_cast<int>(pendingFrames_), MsSince(startedNs));
      return;
    }
  }
}

void EncoderPipeline::TryPromotePending() {
  {
    std::lock_guard<std::mutex> lock(pendingLock_);
    if (!pendingExists_ || !pending_->HasProducedKeyframe())
      return;
  }
  std::shared_ptr<IHardwareEncoder> old;
  std::shared_ptr<HandOver> handOver;
  const IHardwareEncoder* identity = nullptr;
  int fromW = 0, fromH = 0, toW = 0, toH = 0;
  double swapMs = 0, totalMs = 0;
  uint64_t generation = 0;
  {
    // The primary lock first, never while holding pendingLock_: another thread's synchronous
    // encode holds the primary lock shared, and its output path comes back for pendingLock_
    // (a keyframe request is forwarded to the warming copy too).
    const int64_t swapStarted = SteadyNowNs();
    std::unique_lock primaryGuard(primaryLock_);
    std::lock_guard<std::mutex> pendingGuard(pendingLock_);
    if (!pendingExists_ || !pending_->HasProducedKeyframe())
      return;
    fromW = primary_ ? primary_->Width() : 0;
    fromH = primary_ ? primary_->Height() : 0;
    toW = pending_->Width();
    toH = pending_->Height();
    old = std::move(primary_);
    primary_ = std::move(pending_);
    handOver = std::move(pendingHandOver_);
    pendingExists_ = false;
    generation = pendingGeneration_;
    primaryIdentity_.store(primary_.get());
    identity = primary_.get();
    primary_->RequestKeyframe();
    swapMs = MsSince(swapStarted);
    totalMs = MsSince(transitionStartedAtNs_);
  }
  if (handOver)
    TakeOver(identity, *handOver);  // outside the locks: the client's callback may come back in
  DebugTopicLog(DebugTopic::Transitions,
                "swap complete fromW=%d fromH=%d toW=%d toH=%d swapMs=%.1f totalMs=%.1f "
                "framesDropped=0",
                fromW, fromH, toW, toH, swapMs, totalMs);
  WriteTransitionRow("Seamless", fromW, fromH, toW, toH, -1, -1, swapMs, totalMs, 0, "");
  ClearTarget(generation);
  if (old)
    Retire(std::move(old));
}

void EncoderPipeline::Retire(std::shared_ptr<IHardwareEncoder> encoder) {
  {
    std::lock_guard<std::mutex> lock(retireLock_);
    retireQueue_.push_back(std::move(encoder));
  }
  retireCv_.notify_one();
}

void EncoderPipeline::RetireLoop() {
  PrepareThreadForCrashes();
  const EncoderThreadScope encoderThread;  // and release them here
  for (;;) {
    std::shared_ptr<IHardwareEncoder> encoder;
    {
      std::unique_lock<std::mutex> lock(retireLock_);
      retireCv_.wait(lock, [this] { return !retireQueue_.empty() || retireStop_.load(); });
      if (retireQueue_.empty())
        return;
      encoder = std::move(retireQueue_.back());
      retireQueue_.pop_back();
    }
    encoder->Shutdown();
  }
}

uint64_t EncoderPipeline::SetTarget(const EncoderSettings& s) {
  std::lock_guard<std::mutex> lock(targetLock_);
  targetWidth_.store(s.width);
  targetHeight_.store(s.height);
  targetFps_.store(s.fps);
  return ++targetGeneration_;
}

void EncoderPipeline::ClearTarget(uint64_t generation) {
  std::lock_guard<std::mutex> lock(targetLock_);
  if (generation != targetGeneration_)
    return;  // a newer request is in flight and still heading elsewhere
  targetWidth_.store(0);
  targetHeight_.store(0);
  targetFps_.store(0);
}

void EncoderPipeline::Forward(const std::function<void(IHardwareEncoder&)>& apply) {
  {
    std::shared_lock lock(primaryLock_);
    if (primary_)
      apply(*primary_);
  }
  std::lock_guard<std::mutex> lock(pendingLock_);
  if (pendingExists_ && pending_)
    apply(*pending_);
}

// The desired shape changes first, so that a copy being published meanwhile either sees the
// change or is already the warming copy this reaches.
void EncoderPipeline::ForwardSetting(const std::function<void(StreamShape&)>& change,
                                     const std::function<void(IHardwareEncoder&)>& apply) {
  SetDesired(change);
  Forward(apply);
}

void EncoderPipeline::RequestKeyframe() {
  Forward([](IHardwareEncoder& e) { e.RequestKeyframe(); });
}
void EncoderPipeline::SetGopSize(int frames) {
  ForwardSetting([frames](StreamShape& shape) { shape.gopFrames = std::max(frames, 1); },
                 [frames](IHardwareEncoder& e) { e.SetGopSize(frames); });
}
void EncoderPipeline::SetCodec(Codec codec) {
  ForwardSetting([codec](StreamShape& shape) { shape.codec = codec; },
                 [codec](IHardwareEncoder& e) { e.SetCodec(codec); });
}
void EncoderPipeline::SetRateControl(RateControlMode mode, float quality) {
  ForwardSetting(
      [mode, quality](StreamShape& shape) {
        shape.rateControl = mode;
        shape.quality = std::clamp(quality, 0.0f, 1.0f);
      },
      [mode, quality](IHardwareEncoder& e) { e.SetRateControl(mode, quality); });
}

EncoderPipeline::StreamShape EncoderPipeline::ShapeOf(const EncoderSettings& s) {
  StreamShape shape;
  shape.codec = s.codec;
  shape.gopFrames = std::max(s.gopFrames, 1);
  shape.rateControl = s.rateControl;
  shape.quality = std::clamp(s.quality, 0.0f, 1.0f);
  return shape;
}

EncoderPipeline::StreamShape EncoderPipeline::Desired(uint64_t* generation) const {
  std::lock_guard<std::mutex> lock(desiredLock_);
  if (generation != nullptr)
    *generation = desiredGeneration_;
  return desired_;
}

void EncoderPipeline::SetDesired(const std::function<void(StreamShape&)>& change) {
  std::lock_guard<std::mutex> lock(desiredLock_);
  change(desired_);
  ++desiredGeneration_;
}

float EncoderPipeline::Quality() const {
  return Desired(nullptr).quality;
}

void EncoderPipeline::CompressEmergency(int frames) {
  std::shared_lock lock(primaryLock_);
  if (primary_)
    primary_->CompressEmergency(frames);
}

bool EncoderPipeline::IsReady() const {
  const auto p = CopyPrimary();
  return p && p->IsConfigured();
}
int EncoderPipeline::Width() const {
  const auto p = CopyPrimary();
  return p ? p->Width() : 0;
}
int EncoderPipeline::Height() const {
  const auto p = CopyPrimary();
  return p ? p->Height() : 0;
}
int EncoderPipeline::FrameRate() const {
  const auto p = CopyPrimary();
  return p ? p->FrameRate() : 0;
}
std::string EncoderPipeline::Description() const {
  const auto p = CopyPrimary();
  return p ? p->Description() : std::string();
}
int EncoderPipeline::GopSize() const {
  const auto p = CopyPrimary();
  return p ? p->GopSize() : 1;
}
Codec EncoderPipeline::GetCodec() const {
  const auto p = CopyPrimary();
  return p ? p->GetCodec() : Codec::HEVC;
}
RateControlMode EncoderPipeline::GetRateControl() const {
  const auto p = CopyPrimary();
  return p ? p->GetRateControl() : RateControlMode::Bitrate;
}
uint32_t EncoderPipeline::Bitrate() const {
  const auto p = CopyPrimary();
  return p ? p->Bitrate() : 0;
}
uint32_t EncoderPipeline::FrameCap() const {
  const auto p = CopyPrimary();
  return p ? p->FrameCap() : kDefaultFrameCap;
}

int EncoderPipeline::TargetWidth() const {
  const int32_t t = targetWidth_.load();
  return t > 0 ? t : Width();
}
int EncoderPipeline::TargetHeight() const {
  const int32_t t = targetHeight_.load();
  return t > 0 ? t : Height();
}
int EncoderPipeline::TargetFps() const {
  const int32_t t = targetFps_.load();
  return t > 0 ? t : FrameRate();
}

void EncoderPipeline::Shutdown() {
  std::lock_guard<std::mutex> serial(shutdownLock_);
  cloneStop_.store(true);
  {
    std::lock_guard<std::mutex> lock(requestLock_);
    requestPending_ = true;
  }
  requestCv_.notify_all();
  if (cloneThread_.joinable())
    cloneThread_.join();
  retireStop_.store(true);
  { std::lock_guard<std::mutex> lock(retireLock_); }
  retireCv_.notify_all();
  if (retireThread_.joinable())
    retireThread_.join();
  {
    std::lock_guard<std::mutex> lock(pendingLock_);
    pending_.reset();
    pendingHandOver_.reset();
    pendingExists_ = false;
  }
  // Taken out under the lock, shut down outside it (see ReconfigureInPlace).
  std::shared_ptr<IHardwareEncoder> primary;
  {
    std::unique_lock lock(primaryLock_);
    primary = std::move(primary_);
    primaryIdentity_.store(nullptr);
  }
  if (primary)
    primary->Shutdown();
  // A promotion racing this Shutdown may hand its old encoder over after RetireLoop has ended.
  std::deque<std::shared_ptr<IHardwareEncoder>> leftovers;
  {
    std::lock_guard<std::mutex> lock(retireLock_);
    leftovers.swap(retireQueue_);
  }
  for (const auto& encoder : leftovers)
    encoder->Shutdown();
}

}  // namespace Sorvane
