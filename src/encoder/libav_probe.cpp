#include "encoder/libav_probe.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "diag/log_channels.h"

namespace Sorvane {

std::string FirstRenderNode() {
  for (int minor = 128; minor < 136; ++minor) {
    const std::string node = "/dev/dri/renderD" + std::to_string(minor);
    std::error_code ignored;
    if (std::filesystem::exists(node, ignored))
      return node;
  }
  return {};
}

uint32_t RenderNodeVendor(const std::string& node) {
  const std::string name = std::filesystem::path(node).filename().string();
  std::ifstream file("/sys/class/drm/" + name + "/device/vendor");
  std::string text;
  if (!(file >> text))
    return 0;
  try {
    return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
  } catch (...) {
    return 0;
  }
}

bool HardwareEncoderOpens(const EncoderCandidate& candidate) {
  static std::mutex probeLock;
  static std::map<std::string, bool> probed;  // guarded by probeLock
  std::lock_guard<std::mutex> lock(probeLock);
  if (const auto it = probed.find(candidate.name); it != probed.end())
    return it->second;
  bool opens = false;
  std::string error;
  if (candidate.family == EncoderFamily::Vaapi && FirstRenderNode().empty()) {
    error = "no DRM render node";
  } else {
    SessionSettings settings;
    settings.width = 256;
    settings.height = 144;
    settings.rates = RateFieldsFor(RateControlMode::Bitrate, 1'000'000, 0, 0.75f);
    opens = LibavSession::Open(candidate, settings, &error) != nullptr;
  }
  Log(channels::kEncoder, kLogInfo, "hardware encoder \"%s\": %s%s", candidate.name,
      opens ? "opens" : "unavailable — ", opens ? "" : error.c_str());
  probed[candidate.name] = opens;
  return opens;
}

}  // namespace Sorvane
