#include "encoder/encoder_settings_text.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace Sorvane {
namespace {

// "key=value" words separated by spaces.
std::map<std::string, std::string> Fields(std::string_view text) {
  std::map<std::string, std::string> fields;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string_view::npos)
      end = text.size();
    const std::string_view word = text.substr(start, end - start);
    const size_t equals = word.find('=');
    if (equals != std::string_view::npos)
      fields[std::string(word.substr(0, equals))] = std::string(word.substr(equals + 1));
    start = end + 1;
  }
  return fields;
}

bool ToInteger(const std::string& text, long long low, long long high, long long* out) {
  char* end = nullptr;
  *out = std::strtoll(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && *out >= low && *out <= high;
}

std::optional<RateControlMode> RateControlNamed(const std::string& name) {
  for (RateControlMode mode :
       {RateControlMode::Bitrate, RateControlMode::Quality, RateControlMode::VBR}) {
    if (name == RateControlLabel(mode))
      return mode;
  }
  return std::nullopt;
}

}  // namespace

std::string FormatEncoderSettings(const EncoderSettings& s) {
  char text[256];
  std::snprintf(text, sizeof text,
                "codec=%s size=%dx%d fps=%d bitrate=%u peak=%u gop=%d rc=%s quality=%.2f cap=%u",
                CodecLabel(s.codec), s.width, s.height, s.fps, s.bitrateBps, s.peakBitrateBps,
                s.gopFrames, RateControlLabel(s.rateControl), s.quality, s.frameCap);
  return text;
}

std::optional<EncoderSettings> ParseEncoderSettings(std::string_view text) {
  auto fields = Fields(text);
  EncoderSettings s;
  long long fps = 0, bitrate = 0, peak = 0, gop = 0, cap = 0;
  int width = 0, height = 0;
  char tail = 0;
  const std::optional<RateControlMode> rc = RateControlNamed(fields["rc"]);
  char* qualityEnd = nullptr;
  const double quality = std::strtod(fields["quality"].c_str(), &qualityEnd);
  const bool ok = (fields["codec"] == "H264" || fields["codec"] == "HEVC") &&
                  std::sscanf(fields["size"].c_str(), "%dx%d%c", &width, &height, &tail) == 2 &&
                  width > 0 && height > 0 && ToInteger(fields["fps"], 1, 1000, &fps) &&
                  ToInteger(fields["bitrate"], 0, UINT32_MAX, &bitrate) &&
                  ToInteger(fields["peak"], 0, UINT32_MAX, &peak) &&
                  ToInteger(fields["gop"], 1, 1 << 20, &gop) &&
                  ToInteger(fields["cap"], 0, UINT32_MAX, &cap) && rc.has_value() &&
                  !fields["quality"].empty() && *qualityEnd == '\0' && quality >= 0 && quality <= 1;
  if (!ok)
    return std::nullopt;
  s.codec = fields["codec"] == "H264" ? Codec::H264 : Codec::HEVC;
  s.width = width;
  s.height = height;
  s.fps = static_cast<int32_t>(fps);
  s.bitrateBps = static_cast<uint32_t>(bitrate);
  s.peakBitrateBps = static_cast<uint32_t>(peak);
  s.gopFrames = static_cast<int32_t>(gop);
  s.rateControl = *rc;
  s.quality = static_cast<float>(quality);
  s.frameCap = static_cast<uint32_t>(cap);
  return s;
}

}  // namespace Sorvane
