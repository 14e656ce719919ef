#include "sv-host/tone.h"

#include <cmath>

#include "sv-host/sync_marks.h"

namespace Sorvane::hostsim {

ToneGenerator::ToneGenerator(double frequencyHz, uint32_t sampleRate, uint32_t channels)
    : frequencyHz_(frequencyHz), sampleRate_(sampleRate), buffers_(channels), pointers_(channels) {}

float** ToneGenerator::Next(uint32_t frames) {
  constexpr double kTwoPi = 6.283185307179586;
  for (size_t c = 0; c < buffers_.size(); ++c) {
    buffers_[c].resize(frames);
    for (uint32_t i = 0; i < frames; ++i) {
      const uint64_t n = position_ + i;
      const uint64_t intoSecond = n % sampleRate_;
      if (clicks_ && intoSecond < sampleRate_ / 50) {
        const double t = static_cast<double>(intoSecond) / sampleRate_;
        buffers_[c][i] =
            kSyncClickAmplitude * static_cast<float>(std::sin(kTwoPi * kSyncClickHz * t));
      } else {
        const double t = static_cast<double>(n) / sampleRate_;
        buffers_[c][i] = static_cast<float>(0.25 * std::sin(kTwoPi * frequencyHz_ * t));
      }
    }
    pointers_[c] = buffers_[c].data();
  }
  position_ += frames;
  return pointers_.data();
}

}  // namespace Sorvane::hostsim
