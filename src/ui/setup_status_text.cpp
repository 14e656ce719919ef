#include "ui/setup_status_text.h"

#include <cstdio>

namespace Sorvane {
namespace {

constexpr char kDash[] = "\xE2\x80\x94";  // —
constexpr char kDot[] = "\xC2\xB7";       // ·

std::string Format(const char* format, int value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string NotStreamingText(bool active, const char* activeText) {
  return active ? std::string(activeText) + " " + kDot + " waiting for iPhone"
                : std::string("Transmit disabled");
}

std::string CodecText(int32_t codec) {
  if (codec == 0)
    return "HEVC (H.265)";
  if (codec == 1)
    return "H.264";
  return kDash;
}

std::string CapText(const CachedClientSettings& s, const char* format) {
  if (s.shortSideCap == 0 && s.cached)
    return "Auto (native)";
  if (s.shortSideCap < 1)
    return kDash;
  return Format(format, s.shortSideCap);
}

std::string GopSizeText(int32_t gopSize) {
  if (gopSize == 1)
    return "All-Intra (every frame IDR)";
  if (gopSize < 1)
    return kDash;
  return Format("Short-GOP (%d)", gopSize);
}

std::string RateModeText(const CachedClientSettings& s) {
  switch (s.rateControlMode) {
    case 0:
      return "Adaptive (CBR, AIMD target)";
    case 1:
      return s.qualityPercent < 0 ? "Quality" : Format("Quality %d %%", s.qualityPercent);
    case 2:
      return "VBR (peak-constrained)";
    default:
      return kDash;
  }
}

std::string ManualEngineText(const StreamStatusInputs& in) {
  if (!in.uiStatusPublished || in.uiStatus.encoderDescription.empty())
    return kDash;
  return in.uiStatus.encoderDescription;
}

std::string ManualCodecText(const StreamStatusInputs& in) {
  if (!in.uiStatusPublished)
    return kDash;
  return in.uiStatus.codecIsH264 ? "H.264" : "H.265 (HEVC)";
}

std::string ManualGopText(const StreamStatusInputs& in) {
  if (!in.uiStatusPublished)
    return kDash;
  if (in.uiStatus.gopClass == 0)
    return "All-Intra";
  return in.uiStatus.gopClass == 3 ? "Long-GOP" : "Short-GOP";
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

const std::vector<StatusRowSpec>& StatusRowSpecs() {
  static const std::vector<StatusRowSpec> specs = {
      {2101, false, "LIVE STREAM", "Status", L'\xF5B0'},
      {2102, false, "LIVE STREAM", "iPhone", L'\xE8EA'},
      {2103, false, "LIVE STREAM", "Codec", L'\xE8D6'},
      {2104, false, "LIVE STREAM", "Bitrate", L'\xF0E4'},
      {2105, false, "LIVE STREAM", "Resolution", L'\xE740'},
      {2106, false, "LIVE STREAM", "GOP", L'\xE714'},
      {2107, false, "LIVE STREAM", "FEC parity", L'\xE72E'},
      {2108, false, "REQUESTED BY IPHONE", "Bitrate ceiling", L'\xE74A'},
      {2109, false, "REQUESTED BY IPHONE", "Max resolution", L'\xE740'},
      {2137, false, "MANUAL STATE", "Engine", L'\xE950'},
      {2138, false, "MANUAL STATE", "Codec", L'\xE8D6'},
      {2139, false, "MANUAL STATE", "GOP", L'\xE714'},
      {2110, true, "NETWORK", "IP", L'\xE968'},
      {2111, true, "NETWORK", "Interfaces", L'\xEC27'},
      {2112, true, "NETWORK", "Ports", L'\xE8AB'},
      {2113, true, "ADAPTATION", "Controller", L'\xE9D9'},
      {2114, true, "ADAPTATION", "Last reason", L'\xE946'},
      {2115, true, "ADAPTATION", "Phase", L'\xE91F'},
      {2116, true, "ADAPTATION", "Loss", L'\xE7BA'},
      {2117, true, "ADAPTATION", "Backlog", L'\xE7B8'},
      {2118, true, "ADAPTATION", "OWD trend", L'\xE916'},
      {2119, true, "ADAPTATION", "Rate mode", L'\xEC48'},
  };
  return specs;
}

bool IsStreaming(const StreamStatusInputs& in) {
  return in.connected && in.active;
}

std::string DeviceStatusText(const StreamStatusInputs& in) {
  return IsStreaming(in) ? "Streaming" : NotStreamingText(in.active, "Ready");
}

std::string ActiveEncoderText(const std::string& encoderDescription) {
  return "Active encoder: " + (encoderDescription.empty() ? std::string(kDash) + " (not configured)"
                                                          : encoderDescription);
}

std::vector<StatusRowValue> StreamStatusRowValues(const StreamStatusInputs& in) {
  const CachedClientSettings& s = in.settings;
  const bool showPeer = in.connected && !in.peerAddress.empty();
  return {
      {2101, IsStreaming(in) ? "Streaming" : NotStreamingText(in.active, "Idle")},
      {2102, showPeer ? in.peerAddress : kDash},
      {2103, CodecText(s.codec)},
      {2104, kDash},
      {2105, CapText(s, "%dp (short-side cap)")},
      {2106, GopSizeText(s.gopSize)},
      {2107, kDash},
      {2108, kDash},
      {2109, CapText(s, "%dp (short side)")},
      {2137, ManualEngineText(in)},
      {2138, ManualCodecText(in)},
      {2139, ManualGopText(in)},
      {2113, kDash},
      {2114, kDash},
      {2115, "n/a (v1)"},
      {2116, kDash},
      {2117, kDash},
      {2118, kDash},
      {2119, RateModeText(s)},
  };
}

std::vector<StatusRowValue> NetworkRowValues(const std::vector<NetworkInterfaceEntry>& interfaces,
                                             uint16_t controlPort) {
  const std::string primary = PrimaryIPv4Address(interfaces);
  std::string list;
  for (const NetworkInterfaceEntry& entry : interfaces) {
    if (!list.empty())
      list += "   ";
    list += entry.name + ": " + entry.address;
  }
  // The host's own control port: After Effects and Media Encoder listen elsewhere than 47100.
  const std::string ports =
      std::to_string(controlPort) + " control " + kDot + " 47101 video " + kDot + " 47102 audio";
  return {{2110, primary.empty() ? "(no network)" : primary},
          {2111, list.empty() ? "(none)" : list},
          {2112, ports}};
}

std::string PrimaryIPv4Address(const std::vector<NetworkInterfaceEntry>& interfaces) {
  for (const char* preferred : {"Ethernet", "Wi-Fi"})
    for (const NetworkInterfaceEntry& entry : interfaces)
      if (Contains(entry.name, preferred))
        return entry.address;
  return interfaces.empty() ? std::string() : interfaces.front().address;
}

}  // namespace Sorvane
