#include "net/shared_transport.h"

#include <algorithm>

#include "base/host_kind.h"
#include "bridge/transport_commands.h"
#include "diag/log_channels.h"
#include "net/wire_opcodes.h"

namespace Sorvane {

SharedTransport& SharedTransport::Instance() {
  // Built on first use and never destroyed: host threads may still call in during process exit.
  static SharedTransport* instance = new SharedTransport(ControlPortForHost(DetectHost()));
  return *instance;
}

SharedTransport::SharedTransport(uint16_t controlPort, const NetworkTransport::Options& options)
    : controlPort_(controlPort), network_(options) {}

SharedTransport::~SharedTransport() {
  pacer_.Stop();
  network_.Stop();
}

void SharedTransport::EnsureStarted() {
  if (started_.load())
    return;
  std::lock_guard<std::mutex> lock(startLock_);
  if (started_.load())
    return;
  Log(channels::kShared, kLogInfo, "starting shared transport: host=%{public}s controlPort=%u",
      HostDisplayName(DetectHost()), controlPort_);
  network_.SetControlMessageHandler([this](uint8_t opcode, const uint8_t* payload, size_t length) {
    Dispatch(opcode, payload, length);
  });
  network_.SetNewClientHandler([this] { NotifyNewClient(); });
  network_.SetUdpFailureHandler([this] { NotifyUdpFailures(); });
  network_.SetActivityQuery([this] { return IsAnyInstanceActive(); });
  network_.StartListening(controlPort_);
  pacer_.Start(
      [this](const uint8_t* data, size_t length) { return network_.SendVideo(data, length); },
      [this](const uint8_t* data, size_t length) { return network_.SendAudio(data, length); });
  started_.store(true);
}

void SharedTransport::Dispatch(uint8_t opcode, const uint8_t* payload, size_t length) {
  if (wire::IsTransportCommand(opcode)) {
    const uint32_t command = opcode - wire::kTransportCommandFirst;
    if (!TryBridge(command))
      RunKeyboardFallback(command);
    return;
  }
  std::lock_guard<std::mutex> lock(instanceLock_);
  for (ITransportClient* instance : instances_)
    instance->HandleControl(opcode, payload, length);
}

void SharedTransport::NotifyNewClient() {
  bool anyInstance = false;
  {
    std::lock_guard<std::mutex> lock(instanceLock_);
    anyInstance = !instances_.empty();
    for (ITransportClient* instance : instances_)
      instance->OnNewClient();
  }
  // Outside the registry lock: the phone learns the state it connects into, and the nudge may
  // wait for the host's UI thread, which may be waiting for this lock.
  const int playing = lastPlaybackState_.load();
  if (playing >= 0) {
    const uint8_t state = static_cast<uint8_t>(playing);
    SendControl(wire::kPlaybackState, &state, 1);
    Log(channels::kShared, kLogInfo, "new client: told the play state %d", playing);
  }
  if (anyInstance)
    NudgeHostForNewClient();
}

void SharedTransport::NotifyUdpFailures() {
  std::lock_guard<std::mutex> lock(instanceLock_);
  for (ITransportClient* instance : instances_)
    instance->OnUdpFailures();
}

void SharedTransport::Acquire(ITransportClient* instance) {
  EnsureStarted();
  bool replay = false;
  {
    std::lock_guard<std::mutex> lock(instanceLock_);
    instances_.push_back(instance);
    Log(channels::kShared, kLogInfo, "acquire: instance=%p count=%zu", static_cast<void*>(instance),
        instances_.size());
    replay = network_.PeerKnown() && settingsCached_.load();
  }
  if (replay)
    ReplayCachedSettings(instance);
}

// Runs on the acquiring thread without the instance lock, so it may overlap a fan-out to the
// same instance; the replayed commands touch only atomics and the pipeline's locked setters.
void SharedTransport::ReplayCachedSettings(ITransportClient* instance) {
  Log(channels::kShared, kLogInfo, "acquire: replaying cached client settings into new instance");
  const int32_t codec = cachedCodec_.load();
  if (codec == 0 || codec == 1) {
    const uint8_t payload[1] = {static_cast<uint8_t>(codec)};
    instance->HandleControl(wire::kSetCodec, payload, sizeof payload);
  }
  const int32_t shortSide = cachedShortSide_.load();
  if (shortSide > 0) {
    const uint8_t payload[2] = {static_cast<uint8_t>(shortSide),
                                static_cast<uint8_t>(shortSide >> 8)};
    instance->HandleControl(wire::kSetMaxResolution, payload, sizeof payload);
  }
  const int32_t gopMode = cachedGopMode_.load();
  if (gopMode >= 0 && gopMode <= 3) {
    const uint8_t payload[1] = {static_cast<uint8_t>(gopMode)};
    instance->HandleControl(wire::kSetGopMode, payload, sizeof payload);
  }
  const int32_t mode = cachedRateControl_.load();
  if (mode == 0 || mode == 1) {
    const uint8_t payload[2] = {static_cast<uint8_t>(mode),
                                static_cast<uint8_t>(std::clamp(cachedQuality_.load(), 0, 100))};
    instance->HandleControl(wire::kSetEncoderMode, payload, sizeof payload);
  }
}

void SharedTransport::Release(ITransportClient* instance) {
  std::lock_guard<std::mutex> lock(instanceLock_);
  instances_.erase(std::remove(instances_.begin(), instances_.end(), instance), instances_.end());
  Log(channels::kShared, kLogInfo, "release: instance=%p count=%zu", static_cast<void*>(instance),
      instances_.size());
}

bool SharedTransport::IsAnyInstanceActive() {
  std::lock_guard<std::mutex> lock(instanceLock_);
  return std::any_of(instances_.begin(), instances_.end(),
                     [](const ITransportClient* instance) { return instance->IsActive(); });
}

bool SharedTransport::SendControl(uint8_t opcode, const uint8_t* payload, size_t length) {
  return network_.SendControl(opcode, payload, length);
}

bool SharedTransport::PublishPlaybackState(bool playing) {
  const uint8_t state = playing ? 1 : 0;
  lastPlaybackState_.store(state);
  return SendControl(wire::kPlaybackState, &state, 1);
}

void SharedTransport::EnqueueVideo(std::vector<std::vector<uint8_t>> datagrams) {
  pacer_.EnqueueVideo(std::move(datagrams));
}

void SharedTransport::EnqueueAudio(std::vector<std::vector<uint8_t>> datagrams) {
  pacer_.EnqueueAudio(std::move(datagrams));
}

void SharedTransport::ClearPacerQueue() {
  pacer_.ClearQueue();
}
void SharedTransport::SetPacerBitrate(uint32_t bitsPerSecond) {
  pacer_.SetBitrate(bitsPerSecond);
}

void SharedTransport::SetCachedGopSize(int32_t size) {
  cachedGopSize_.store(size);
  settingsCached_.store(true);
}
void SharedTransport::SetCachedGopMode(int32_t mode) {
  cachedGopMode_.store(mode);
  settingsCached_.store(true);
}
void SharedTransport::SetCachedCodec(int32_t codec) {
  cachedCodec_.store(codec);
  settingsCached_.store(true);
}
void SharedTransport::SetCachedMaxResolution(int32_t shortSide) {
  cachedShortSide_.store(shortSide);
  settingsCached_.store(true);
}
void SharedTransport::SetCachedEncoderMode(int32_t mode, int32_t qualityPercent) {
  cachedRateControl_.store(mode);
  cachedQuality_.store(qualityPercent);
  settingsCached_.store(true);
}

CachedClientSettings SharedTransport::GetCachedClientSettings() const {
  CachedClientSettings s;
  s.qualityPercent = cachedQuality_.load();
  s.shortSideCap = cachedShortSide_.load();
  s.codec = cachedCodec_.load();
  s.gopSize = cachedGopSize_.load();
  s.gopMode = cachedGopMode_.load();
  s.rateControlMode = cachedRateControl_.load();
  s.cached = settingsCached_.load();
  return s;
}

void SharedTransport::SetUiStatus(const UiStatus& status) {
  std::lock_guard<std::mutex> lock(uiStatusLock_);
  uiStatus_ = status;
  uiStatusFresh_ = true;
}

UiStatus SharedTransport::GetUiStatus() const {
  std::lock_guard<std::mutex> lock(uiStatusLock_);
  return uiStatus_;
}

bool SharedTransport::HasUiStatus() const {
  std::lock_guard<std::mutex> lock(uiStatusLock_);
  return uiStatusFresh_;
}

}  // namespace Sorvane
