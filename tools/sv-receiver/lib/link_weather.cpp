#include "sv-receiver/lib/link_weather.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace Sorvane::receiver {
namespace {

LinkProfile Wifi() {
  LinkProfile p;
  p.name = "wifi";
  p.lossPercent = 1;
  p.burstDatagrams = 2;
  p.delayMs = 2;
  p.jitterMs = 2;
  p.rateMbit = 100;
  return p;
}

LinkProfile Congested() {
  LinkProfile p = Wifi();
  p.name = "congested";
  p.lossPercent = 3;
  p.burstDatagrams = 3;
  p.rateMbit = 30;
  return p;
}

bool SetField(LinkProfile& p, const std::string& key, double value) {
  if (key == "loss" && value >= 0 && value < 100) {
    p.lossPercent = value;
  } else if (key == "burst" && value >= 1) {
    p.burstDatagrams = value;
  } else if (key == "delay" && value >= 0) {
    p.delayMs = value;
  } else if (key == "jitter" && value >= 0) {
    p.jitterMs = value;
  } else if (key == "rate" && value >= 0) {
    p.rateMbit = value;
  } else if (key == "policer-burst" && value > 0) {
    p.burstMs = value;
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::optional<LinkProfile> ParseLinkProfile(const std::string& text, std::string* error) {
  LinkProfile profile;
  profile.name = text;
  std::stringstream parts(text);
  std::string part;
  while (std::getline(parts, part, ',')) {
    const size_t equals = part.find('=');
    if (equals == std::string::npos) {
      if (part == "wifi" || part == "congested") {
        const std::string name = profile.name;
        profile = part == "wifi" ? Wifi() : Congested();
        profile.name = name;
        continue;
      }
      if (error)
        *error = "unknown link profile '" + part + "' (wifi, congested, or key=value pairs)";
      return std::nullopt;
    }
    const std::string key = part.substr(0, equals), text = part.substr(equals + 1);
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !SetField(profile, key, value)) {
      if (error)
        *error = "bad link setting '" + part + "'";
      return std::nullopt;
    }
  }
  if (text.empty()) {
    if (error)
      *error = "empty link profile";
    return std::nullopt;
  }
  return profile;
}

std::string DescribeLinkProfile(const LinkProfile& p) {
  char rate[64] = "no rate limit";
  if (p.rateMbit > 0)
    std::snprintf(rate, sizeof rate, "%g Mbit/s (bursts of %g ms)", p.rateMbit, p.burstMs);
  char text[256];
  std::snprintf(text, sizeof text,
                "%s: %g %% loss in bursts of %g datagrams, delay %g ms ± %g ms, %s", p.name.c_str(),
                p.lossPercent, p.burstDatagrams, p.delayMs, p.jitterMs, rate);
  return text;
}

RatePolicer::RatePolicer(double bitsPerSecond, double burstSeconds)
    : bytesPerUs_(bitsPerSecond / 8 / 1e6),
      depthBytes_(bitsPerSecond / 8 * burstSeconds),
      tokens_(depthBytes_) {}

bool RatePolicer::Admit(size_t bytes, int64_t nowUs) {
  std::lock_guard<std::mutex> lock(lock_);
  if (lastUs_ >= 0)
    tokens_ = std::min(depthBytes_, tokens_ + (nowUs - lastUs_) * bytesPerUs_);
  lastUs_ = nowUs;
  if (tokens_ < static_cast<double>(bytes))
    return false;
  tokens_ -= static_cast<double>(bytes);
  return true;
}

LinkWeather::LinkWeather(const LinkProfile& profile, uint32_t seed, RatePolicer* policer)
    : profile_(profile), policer_(policer), rng_(seed) {
  const double loss = profile.lossPercent / 100;
  badToGood_ = 1 / std::max(profile.burstDatagrams, 1.0);
  goodToBad_ = loss > 0 ? loss * badToGood_ / (1 - loss) : 0;
}

bool LinkWeather::LostInBurst() {
  const bool lost = bad_;
  bad_ = unit_(rng_) < (bad_ ? 1 - badToGood_ : goodToBad_);
  return lost;
}

void LinkWeather::Arrive(const uint8_t* data, size_t size, int64_t nowUs) {
  ++stats_.arrived;
  if (LostInBurst()) {
    ++stats_.lostInBursts;
    return;
  }
  if (policer_ != nullptr && !policer_->Admit(size, nowUs)) {
    ++stats_.lostToRate;
    return;
  }
  const double low = std::max(0.0, profile_.delayMs - profile_.jitterMs);
  const double high = profile_.delayMs + profile_.jitterMs;
  const double delayMs = low + (high - low) * unit_(rng_);
  queue_.push(Delayed{nowUs + static_cast<int64_t>(delayMs * 1000), ++order_,
                      std::vector<uint8_t>(data, data + size)});
}

std::optional<int64_t> LinkWeather::NextDueUs() const {
  if (queue_.empty())
    return std::nullopt;
  return queue_.top().dueUs;
}

}  // namespace Sorvane::receiver
