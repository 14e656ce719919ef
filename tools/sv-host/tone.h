#pragma once
#include <cstdint>
#include <vector>

namespace Sorvane::hostsim {

// A continuous sine tone, one non-interleaved float buffer per channel, as the host pushes audio.
class ToneGenerator {
 public:
  ToneGenerator(double frequencyHz, uint32_t sampleRate, uint32_t channels);
  // From now on every whole second of samples starts with a lip-sync click (sync_marks.h) in
  // place of the tone.
  void AddSyncClicks() { clicks_ = true; }
  // The next `frames` samples of every channel; the returned pointers stay valid until the next
  // call.
  float** Next(uint32_t frames);
  uint32_t channels() const { return static_cast<uint32_t>(buffers_.size()); }
  uint64_t framesProduced() const { return position_; }

 private:
  double frequencyHz_;
  uint32_t sampleRate_;
  uint64_t position_ = 0;
  bool clicks_ = false;
  std::vector<std::vector<float>> buffers_;
  std::vector<float*> pointers_;
};

}  // namespace Sorvane::hostsim
