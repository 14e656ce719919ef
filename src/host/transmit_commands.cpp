// The phone's commands: encoder settings, engine switch, and a new client's first picture.
#include <algorithm>
#include <optional>
#include <string>

#include "base/byte_order.h"
#include "diag/host_entry_guard.h"
#include "diag/log_channels.h"
#include "diag/log_text.h"
#include "encoder/encoder_factory.h"
#include "encoder/engine_catalog.h"
#include "host/encoder_pipeline.h"
#include "host/transmit_instance.h"
#include "net/shared_transport.h"
#include "net/wire_opcodes.h"

namespace Sorvane {
namespace {

struct GopMode {
  const char* label;
  int gopSize;
};

GopMode GopModeFor(uint8_t mode) {
  switch (mode) {
    case 0:
      return {"All-Intra", 1};
    case 1:
      return {"Short-GOP", 5};
    case 3:
      return {"Long-GOP", 600};
    default:
      return {"?-fallback-AllIntra", 1};
  }
}

RateControlMode RateControlFor(uint8_t mode) {
  switch (mode) {
    case 1:
      return RateControlMode::Quality;
    case 2:
      return RateControlMode::VBR;
    default:
      return RateControlMode::Bitrate;
  }
}

bool IsAcknowledged(uint8_t opcode) {
  switch (opcode) {
    case wire::kSetBitrate:
    case wire::kSetGopMode:
    case wire::kSetCodec:
    case wire::kSetMaxResolution:
    case wire::kSetEncoderMode:
    case wire::kSetHardFrameCap:
    case wire::kSetEncoderEngine:
      return true;
    default:
      return false;
  }
}

const char* RetiredName(uint8_t opcode) {
  switch (opcode) {
    case wire::kSetBitrate:
      return "SetBitrate";
    case wire::kSetAutoMode:
      return "SetAutoMode";
    case wire::kSetHardFrameCap:
      return "SetHardFrameCap";
    case wire::kSetCongestionController:
      return "SetCongestionController";
    case wire::kSetPlaybackPrefer:
      return "SetPlaybackPrefer";
    default:
      return nullptr;
  }
}

bool IsRetiredWithoutName(uint8_t opcode) {
  switch (opcode) {
    case wire::kSetMode:
    case wire::kSetMaxLatency:
    case wire::kAppTelemetry:
    case wire::kSetTransitionMode:
    case wire::kSetFullQualityWhenPaused:
      return true;
    default:
      return false;
  }
}

}  // namespace

void TransmitInstance::HandleControl(uint8_t opcode, const uint8_t* payload, size_t length) {
  static HostEntryGuard guard(channels::kTransmit, "HandleControl");
  guard.Run([&] { ApplyControl(opcode, payload, length); });
}

void TransmitInstance::ApplyControl(uint8_t opcode, const uint8_t* payload, size_t length) {
  if (payload == nullptr)
    length = 0;
  const std::shared_ptr<EncoderPipeline> pipeline = CopyPipeline();
  switch (opcode) {
    case wire::kRequestIdr:
      Log(channels::kTransmit, kLogInfo, "control: IDR requested by client");
      if (pipeline)
        pipeline->RequestKeyframe();
      break;
    case wire::kReceiverReport:
    case wire::kReceiverReportV2:
      break;
    case wire::kSetGopMode:
      HandleSetGopMode(pipeline.get(), payload, length);
      break;
    case wire::kSetCodec:
      HandleSetCodec(pipeline.get(), payload, length);
      break;
    case wire::kSetMaxResolution:
      HandleSetMaxResolution(payload, length);
      break;
    case wire::kSetEncoderMode:
      HandleSetEncoderMode(pipeline.get(), payload, length);
      break;
    case wire::kSetEncoderEngine:
      HandleSetEncoderEngine(payload, length);
      break;
    case wire::kAppSettingsSnapshot:
      HandleAppSettingsSnapshot(payload, length);
      break;
    case wire::kTestMarker:
      HandleTestMarker(payload, length);
      break;
    default:
      if (const char* name = RetiredName(opcode)) {
        Log(channels::kTransmit, kLogInfo, "control: retired opcode 0x%02X (%s) — ignored", opcode,
            name);
      } else if (IsRetiredWithoutName(opcode)) {
        Log(channels::kTransmit, kLogInfo, "control: retired opcode 0x%02X — ignored", opcode);
      } else {
        Log(channels::kTransmit, kLogInfo, "control: unhandled opcode 0x%02x", opcode);
      }
      break;
  }
  if (IsAcknowledged(opcode))
    Acknowledge(opcode);
}

void TransmitInstance::Acknowledge(uint8_t opcode) {
  transport_.SendControl(wire::kCommandAck, &opcode, 1);
}

void TransmitInstance::HandleSetGopMode(EncoderPipeline* pipeline, const uint8_t* payload,
                                        size_t length) {
  if (length < 1)
    return;
  const uint8_t mode = payload[0];
  transport_.SetCachedGopMode(mode);
  if (mode == 2) {
    Log(channels::kTransmit, kLogInfo, "control: SetGopMode AUTO is retired — keeping current=%d",
        pipeline ? pipeline->GopSize() : 0);
    return;
  }
  const GopMode gop = GopModeFor(mode);
  Log(channels::kTransmit, kLogInfo, "[Vuvovede] Step 1 GOP applied: %s (gopSize=%d)", gop.label,
      gop.gopSize);
  if (pipeline)
    pipeline->SetGopSize(gop.gopSize);
  transport_.SetCachedGopSize(gop.gopSize);
  std::lock_guard<std::mutex> lock(descriptionLock_);
  PublishUiStatus();
}

void TransmitInstance::HandleSetCodec(EncoderPipeline* pipeline, const uint8_t* payload,
                                      size_t length) {
  if (length < 1)
    return;
  const Codec codec = payload[0] == 1 ? Codec::H264 : Codec::HEVC;
  Log(channels::kTransmit, kLogInfo, "control: SetCodec %{public}s", CodecLabel(codec));
  if (pipeline)
    pipeline->SetCodec(codec);
  transport_.SetCachedCodec(static_cast<int32_t>(codec));
  std::lock_guard<std::mutex> lock(descriptionLock_);
  PublishUiStatus();
}

void TransmitInstance::HandleSetMaxResolution(const uint8_t* payload, size_t length) {
  if (length < 2)
    return;
  const uint16_t cap = GetU16LE(payload);
  Log(channels::kTransmit, kLogDebug,
      "[dx] control: SetMaxResolution shortSideCap=%u (was=%d, 0=Auto)", cap, shortSideCap_.load());
  shortSideCap_.store(cap);
  transport_.SetCachedMaxResolution(cap);
}

void TransmitInstance::HandleSetEncoderMode(EncoderPipeline* pipeline, const uint8_t* payload,
                                            size_t length) {
  if (length < 2)
    return;
  const RateControlMode mode = RateControlFor(payload[0]);
  const uint32_t percent = std::min<uint32_t>(payload[1], 100);
  Log(channels::kTransmit, kLogInfo, "control: SetEncoderMode %{public}s q=%u%%",
      RateControlLabel(mode), percent);
  rateControlMode_.store(static_cast<uint32_t>(mode));
  if (pipeline)
    pipeline->SetRateControl(mode, static_cast<float>(percent) / 100.0f);
  transport_.SetCachedEncoderMode(static_cast<int32_t>(mode), static_cast<int32_t>(percent));
  uint32_t rate = 0;
  if (mode == RateControlMode::Bitrate) {
    rate = std::max<uint32_t>(2u * (pipeline ? pipeline->Bitrate() : 0u), 300'000'000u);
  } else {
    const uint32_t fps = static_cast<uint32_t>(std::max(fps_.load(), 1));
    rate = std::max<uint32_t>((pipeline ? pipeline->FrameCap() : 0u) * 8u * fps * 4u, 300'000'000u);
  }
  transport_.SetPacerBitrate(rate);
}

void TransmitInstance::HandleSetEncoderEngine(const uint8_t* payload, size_t length) {
  if (length == 1) {
    Log(channels::kTransmit, kLogInfo,
        "control: SetEncoderEngine (legacy 1B) — treating as 'auto' no-op");
    legacyEngineFlag_.store(payload[0]);
    return;
  }
  const size_t idLength = length >= 1 ? payload[0] : 0;
  if (idLength < 1 || idLength + 1 > length) {
    Log(channels::kTransmit, kLogError,
        "control: SetEncoderEngine malformed (idLen=%u payloadLen=%zu)",
        static_cast<unsigned>(idLength), length);
    return;
  }
  const std::string id(reinterpret_cast<const char*>(payload + 1), idLength);
  {
    std::lock_guard<std::mutex> lock(engineLock_);
    Log(channels::kTransmit, kLogInfo, "control: SetEncoderEngine id='%s' (was '%s')",
        LogSafeText(id).c_str(), LogSafeText(engineId_).c_str());
  }
  SwitchEncoderEngine(id);
}

void TransmitInstance::HandleAppSettingsSnapshot(const uint8_t* payload, size_t length) {
  if (length < 6) {
    Log(channels::kTransmit, kLogInfo, "control: AppSettingsSnapshot too short (%zu)", length);
    return;
  }
  const uint16_t resolution = GetU16LE(payload);
  const uint8_t codec = payload[2], gop = payload[3], rateControl = payload[4];
  const size_t idLength = payload[5];
  const bool hasEngine = idLength > 0 && length >= 6 + idLength;
  const std::string engine =
      hasEngine ? std::string(reinterpret_cast<const char*>(payload + 6), idLength) : std::string();
  Log(channels::kTransmit, kLogInfo,
      "control: AppSettingsSnapshot resLimit=%u codec=%u gop=%u rc=%u engine=%s", resolution, codec,
      gop, rateControl, LogSafeText(engine).c_str());
  HandleControl(wire::kSetMaxResolution, payload, 2);
  HandleControl(wire::kSetCodec, &codec, 1);
  HandleControl(wire::kSetGopMode, &gop, 1);
  const uint8_t encoderMode[2] = {rateControl, 70};
  HandleControl(wire::kSetEncoderMode, encoderMode, sizeof encoderMode);
  if (hasEngine)
    HandleControl(wire::kSetEncoderEngine, payload + 5, 1 + idLength);
}

void TransmitInstance::HandleTestMarker(const uint8_t* payload, size_t length) {
  if (length < 1)
    return;
  const size_t textLength = std::min<size_t>(payload[0], length - 1);
  const std::string text(reinterpret_cast<const char*>(payload + 1), textLength);
  Log(channels::kTransmit, kLogInfo, "[TEST] %s", LogSafeText(text).c_str());
}

void TransmitInstance::SwitchEncoderEngine(const std::string& id) {
  std::lock_guard<std::mutex> engineLock(engineLock_);
  const std::string safeId = LogSafeText(id);
  if (id == engineId_) {
    Log(channels::kTransmit, kLogInfo, "engine switch: same id '%s' — no-op", safeId.c_str());
    return;
  }
  if (engineId_ == "auto") {
    Log(channels::kTransmit, kLogInfo,
        "engine switch: seed 'auto' → '%s' — adopting label without rebuild", safeId.c_str());
    engineId_ = id;
    std::lock_guard<std::mutex> lock(descriptionLock_);
    PublishUiStatus();
    return;
  }
  Log(channels::kTransmit, kLogInfo, "engine switch: '%s' → '%s' — full refresh",
      LogSafeText(engineId_).c_str(), safeId.c_str());
  SendEncoderInfoText("Switching encoder...");
  std::shared_ptr<IHardwareEncoder> encoder = encoderFactory_ ? encoderFactory_(id) : nullptr;
  if (!encoder) {
    Log(channels::kTransmit, kLogError,
        "engine switch: CreateForEngine('%s') failed — falling back to default", safeId.c_str());
    encoder = encoderFactory_ ? encoderFactory_(kDefaultEngine) : nullptr;
  }
  if (!encoder) {
    Log(channels::kTransmit, kLogError,
        "engine switch: no encoder available — keeping current pipeline");
    return;
  }
  auto fresh = std::make_shared<EncoderPipeline>(std::move(encoder));
  InstallEncoderCallback(*fresh);
  std::shared_ptr<EncoderPipeline> old;
  {
    std::unique_lock lock(pipelineLock_);
    old = std::exchange(pipeline_, fresh);
  }
  if (old)
    old->Shutdown();
  EngineCatalog::Process().Refresh();  // the next client sees the machine as it is now
  std::lock_guard<std::mutex> lock(descriptionLock_);
  lastEncoderDesc_.clear();
  lastStreamInfo_ = {};
  engineId_ = id;
  Log(channels::kTransmit, kLogInfo, "engine switch: rebuilt pipeline with '%s'", safeId.c_str());
  PublishUiStatus();
}

void TransmitInstance::OnNewClient() {
  static HostEntryGuard guard(channels::kTransmit, "OnNewClient");
  guard.Run([this] { GreetNewClient(); });
}

// The messages are worked out under the description lock and sent after it: each send may wait
// seconds for a slow phone, and every pushed frame takes that lock.
void TransmitInstance::GreetNewClient() {
  Log(channels::kTransmit, kLogInfo, "new client — forcing IDR, re-pushing StreamInfo");
  transport_.ClearPacerQueue();
  if (const auto pipeline = CopyPipeline())
    pipeline->RequestKeyframe();
  // Enumerated off this thread, once per process; only the first client may wait for it.
  auto engines = EngineCatalog::Process().List(std::chrono::seconds(3));
  std::optional<std::string> encoderInfo;
  {
    std::lock_guard<std::mutex> lock(descriptionLock_);
    lastStreamInfo_ = {};
    committedSource_ = {};
    lastEncoderDesc_.clear();
    SendStreamInfoIfReady();  // sends nothing: the source was just un-committed
    encoderInfo = EncoderInfoToSend();
    if (encoderInfo)
      lastEncoderDesc_ = *encoderInfo;  // claimed, so a frame pushed meanwhile does not send it too
    PublishUiStatus();
  }
  SendHostPlatform();
  SendEncoderEngineList(std::move(engines));
  if (encoderInfo && !SendEncoderInfo(*encoderInfo)) {
    std::lock_guard<std::mutex> lock(descriptionLock_);
    if (lastEncoderDesc_ == *encoderInfo)
      lastEncoderDesc_.clear();  // the next frame tries again
    PublishUiStatus();
  }
  ReplayCachedFrame();
  // The host's redraw nudge follows once per client, outside the registry lock (SharedTransport).
}

void TransmitInstance::ReplayCachedFrame() {
  // The replay encodes under the cache lock, so a concurrent CacheFrame cannot resize the buffer
  // under the encoder.
  std::lock_guard<std::mutex> lock(frameCacheLock_);
  if (!frameCache_.valid || frameCache_.bytes.empty()) {
    Log(channels::kTransmit, kLogInfo, "OnNewClient replay: no cache, waiting on Premiere");
    return;
  }
  const std::shared_ptr<EncoderPipeline> pipeline = CopyPipeline();
  const int encodedWidth = pipeline ? pipeline->Width() : 0;
  const int encodedHeight = pipeline ? pipeline->Height() : 0;
  if (encodedWidth >= 1 && encodedHeight >= 1 &&
      (encodedWidth != frameCache_.width || encodedHeight != frameCache_.height)) {
    Log(channels::kTransmit, kLogInfo,
        "OnNewClient replay: dim mismatch cache=%dx%d enc=%dx%d — skip", frameCache_.width,
        frameCache_.height, encodedWidth, encodedHeight);
    return;
  }
  if (!pipeline)
    return;
  Log(channels::kTransmit, kLogInfo, "OnNewClient replay: cached %dx%d fresh IDR",
      frameCache_.width, frameCache_.height);
  pipeline->Encode(frameCache_.bytes.data(), frameCache_.width, frameCache_.height,
                   frameCache_.rowBytes);
}

void TransmitInstance::OnUdpFailures() {
  static HostEntryGuard guard(channels::kTransmit, "OnUdpFailures");
  guard.Run([this] {
    Log(channels::kTransmit, kLogInfo, "consecutive UDP failures — forcing IDR");
    if (const auto pipeline = CopyPipeline())
      pipeline->RequestKeyframe();
  });
}

}  // namespace Sorvane
