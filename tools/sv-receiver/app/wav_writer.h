#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace Sorvane::receiver {

// A 32-bit float WAV file written as samples arrive; the header's sizes are fixed on Close.
class WavWriter {
 public:
  ~WavWriter() { Close(); }
  // Opens the file on the first packet, with that packet's format.
  bool Append(const std::filesystem::path& file, uint32_t sampleRate, uint32_t channels,
              const float* interleaved, size_t sampleCount);
  void Close();
  uint64_t framesWritten() const { return channels_ ? samples_ / channels_ : 0; }

 private:
  std::FILE* out_ = nullptr;
  uint32_t sampleRate_ = 0;
  uint32_t channels_ = 0;
  uint64_t samples_ = 0;
};

}  // namespace Sorvane::receiver
