// The stream descriptions the client receives: source, stream, encoder, platform and engines.
#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "diag/log_channels.h"
#include "encoder/encoder_factory.h"
#include "host/encoder_pipeline.h"
#include "host/host_platform.h"
#include "host/transmit_instance.h"
#include "net/shared_transport.h"
#include "net/wire_opcodes.h"

namespace Sorvane {
namespace {

constexpr size_t kMaxEncoderInfo = 200;
constexpr const char* kEmptyDescription = "<empty>";

uint16_t Clamp16(int32_t value) {
  return static_cast<uint16_t>(std::clamp<int32_t>(value, 0, 65535));
}

void AppendShortString(std::vector<uint8_t>& out, const std::string& text) {
  const size_t n = std::min<size_t>(text.size(), 255);
  out.push_back(static_cast<uint8_t>(n));
  out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace

bool TransmitInstance::SendSourceChanged(const SourceDims& source) {
  uint8_t payload[8];
  PutU16LE(payload, Clamp16(source.width));
  PutU16LE(payload + 2, Clamp16(source.height));
  const float fps = static_cast<float>(source.fps);
  uint32_t bits = 0;
  std::memcpy(&bits, &fps, sizeof bits);
  PutU32LE(payload + 4, bits);
  return transport_.SendControl(wire::kSourceChanged, payload, sizeof payload);
}

void TransmitInstance::SendStreamInfoIfReady() {
  const SourceDims committed = committedSource_;
  if (committed.width < 1 || committed.height < 1 || committed.fps <= 0) {
    Log(channels::kTransmit, kLogDebug,
        "[dx] SendStreamInfoIfReady: skip — source dims not yet committed "
        "(sourceWHF=%d/%d/%d, candWHF=%d/%d/%d)",
        committed.width, committed.height, committed.fps, candidateSource_.width,
        candidateSource_.height, candidateSource_.fps);
    return;
  }
  const std::shared_ptr<EncoderPipeline> pipeline = CopyPipeline();
  if (committed == lastStreamInfo_ || !pipeline)
    return;
  const uint32_t frameCap = pipeline->FrameCap();
  uint8_t payload[10];
  PutU16LE(payload, Clamp16(committed.width));
  PutU16LE(payload + 2, Clamp16(committed.height));
  PutU16LE(payload + 4, Clamp16(committed.fps));
  PutU32LE(payload + 6, frameCap);
  if (transport_.SendControl(wire::kStreamInfo, payload, sizeof payload)) {
    lastStreamInfo_ = committed;
    Log(channels::kTransmit, kLogInfo, "SendControl: kStreamInfo w=%d h=%d fps=%d cap=%u",
        committed.width, committed.height, committed.fps, frameCap);
  }
  SendEncoderInfoIfChanged();
}

bool TransmitInstance::SendEncoderInfoText(const std::string& text) {
  std::vector<uint8_t> payload;
  AppendShortString(payload, text.substr(0, kMaxEncoderInfo));
  return transport_.SendControl(wire::kEncoderInfo, payload.data(), payload.size());
}

std::optional<std::string> TransmitInstance::EncoderInfoToSend() {
  const std::shared_ptr<EncoderPipeline> pipeline = CopyPipeline();
  const std::string description = pipeline ? pipeline->Description() : std::string();
  if (description.empty()) {
    if (lastEncoderDesc_ != kEmptyDescription) {
      Log(channels::kTransmit, kLogDebug,
          "[dx] SendEncoderInfoIfChanged: skip — desc empty (encoder unconfigured?)");
      lastEncoderDesc_ = kEmptyDescription;
    }
    return std::nullopt;
  }
  if (description == lastEncoderDesc_)
    return std::nullopt;
  return description.substr(0, kMaxEncoderInfo);
}

bool TransmitInstance::SendEncoderInfo(const std::string& cut) {
  if (!SendEncoderInfoText(cut))
    return false;
  Log(channels::kTransmit, kLogInfo, "SendControl: kEncoderInfo \"%s\"", cut.c_str());
  return true;
}

void TransmitInstance::SendEncoderInfoIfChanged() {
  const std::optional<std::string> cut = EncoderInfoToSend();
  if (!cut || !SendEncoderInfo(*cut))
    return;
  lastEncoderDesc_ = *cut;
  PublishUiStatus();
}

void TransmitInstance::SendHostPlatform() {
  const HostPlatform platform = CurrentHostPlatform();
  const uint8_t payload[2] = {platform.platform, platform.architecture};
  if (transport_.SendControl(wire::kHostPlatform, payload, sizeof payload)) {
    Log(channels::kTransmit, kLogInfo, "SendControl: kHostPlatform %s (%s)", platform.platformName,
        platform.architectureName);
  }
}

void TransmitInstance::SendEncoderEngineList(std::optional<std::vector<EncoderEngine>> listed) {
  if (!listed) {
    Log(channels::kTransmit, kLogError,
        "SendEncoderEngineList: the engine list is not ready yet — not sent to this client");
    return;
  }
  std::vector<EncoderEngine> engines = std::move(*listed);
  if (engines.size() > 255)
    engines.resize(255);
  std::vector<uint8_t> inner;
  inner.push_back(static_cast<uint8_t>(engines.size()));
  for (const EncoderEngine& engine : engines) {
    AppendShortString(inner, engine.id);
    AppendShortString(inner, engine.label);
    AppendShortString(inner, engine.note);
  }
  if (inner.size() > 255) {
    Log(channels::kTransmit, kLogError,
        "SendEncoderEngineList: inner payload %zu > 255 B — truncating", inner.size());
    inner.resize(255);
  }
  std::vector<uint8_t> payload;
  payload.push_back(static_cast<uint8_t>(inner.size()));
  payload.insert(payload.end(), inner.begin(), inner.end());
  if (transport_.SendControl(wire::kEncoderEngineList, payload.data(), payload.size())) {
    Log(channels::kTransmit, kLogInfo, "SendControl: kEncoderEngineList %zu entries (%zu B frame)",
        engines.size(), payload.size());
  }
}

void TransmitInstance::PublishUiStatus() {
  const std::shared_ptr<EncoderPipeline> pipeline = CopyPipeline();
  UiStatus status;
  status.legacyEngineFlag = legacyEngineFlag_.load();
  status.encoderDescription = lastEncoderDesc_;
  status.codecIsH264 = pipeline && pipeline->GetCodec() == Codec::H264 ? 1 : 0;
  if (pipeline) {
    const int gop = pipeline->GopSize();
    status.gopClass = gop <= 1 ? 0 : (gop <= 5 ? 1 : 3);
  }
  transport_.SetUiStatus(status);
}

}  // namespace Sorvane
