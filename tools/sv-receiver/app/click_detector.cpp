#include "sv-receiver/app/click_detector.h"

#include <algorithm>
#include <cmath>

#include "sv-host/sync_marks.h"

namespace Sorvane::receiver {
namespace {

constexpr double kTwoPi = 6.283185307179586;
// Thresholds on the measured 1 kHz amplitude: half the click's level to trigger, a fifth to
// re-arm, so one click is found once.
constexpr double kTrigger = hostsim::kSyncClickAmplitude * 0.5;
constexpr double kRearm = hostsim::kSyncClickAmplitude * 0.2;

}  // namespace

void ClickDetector::Reset(uint32_t sampleRate) {
  sampleRate_ = sampleRate;
  window_ = std::max<size_t>(8, sampleRate * 4 / static_cast<uint32_t>(hostsim::kSyncClickHz));
  inPhase_.assign(window_, 0.0);
  quadrature_.assign(window_, 0.0);
  sumI_ = sumQ_ = 0;
  samples_ = 0;
  armed_ = true;
  packets_.clear();
}

void ClickDetector::Push(const float* interleaved, size_t frames, uint32_t channels,
                         uint32_t sampleRate, int64_t arrivalUs) {
  if (interleaved == nullptr || channels == 0 || sampleRate < 8000)
    return;
  if (sampleRate != sampleRate_)
    Reset(sampleRate);
  packets_.push_back({samples_, sampleRate, arrivalUs});
  while (packets_.size() > 64)
    packets_.pop_front();
  for (size_t i = 0; i < frames; ++i)
    OnSample(interleaved[i * channels]);
}

void ClickDetector::OnSample(float x) {
  const size_t slot = samples_ % window_;
  const double phase =
      kTwoPi * hostsim::kSyncClickHz * static_cast<double>(samples_ % sampleRate_) / sampleRate_;
  const double i = x * std::cos(phase), q = x * std::sin(phase);
  sumI_ += i - inPhase_[slot];
  sumQ_ += q - quadrature_[slot];
  inPhase_[slot] = i;
  quadrature_[slot] = q;
  ++samples_;
  // Before the window first fills, the ring's zeros stand for silence before the stream.
  const double amplitude = 2.0 * std::hypot(sumI_, sumQ_) / static_cast<double>(window_);
  if (armed_ && amplitude >= kTrigger) {
    armed_ = false;
    const uint64_t last = samples_ - 1;
    clicks_.push_back(TimeOfSample(last >= window_ / 2 ? last - window_ / 2 : 0));
  } else if (!armed_ && amplitude < kRearm) {
    armed_ = true;
  }
}

int64_t ClickDetector::TimeOfSample(uint64_t sample) const {
  for (auto it = packets_.rbegin(); it != packets_.rend(); ++it) {
    if (it->firstSample <= sample) {
      return it->arrivalUs +
             static_cast<int64_t>((sample - it->firstSample) * 1000000 / it->sampleRate);
    }
  }
  const PacketStart& oldest = packets_.front();
  return oldest.arrivalUs -
         static_cast<int64_t>((oldest.firstSample - sample) * 1000000 / oldest.sampleRate);
}

}  // namespace Sorvane::receiver
