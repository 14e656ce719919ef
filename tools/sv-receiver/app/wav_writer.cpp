#include "sv-receiver/app/wav_writer.h"

#include "base/byte_order.h"

namespace Sorvane::receiver {
namespace {

void WriteHeader(std::FILE* out, uint32_t rate, uint32_t channels, uint64_t samples) {
  const uint32_t dataBytes = static_cast<uint32_t>(samples * 4);
  uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  PutU32LE(h + 4, 36 + dataBytes);
  PutU32LE(h + 16, 16);
  PutU16LE(h + 20, 3);  // IEEE float
  PutU16LE(h + 22, static_cast<uint16_t>(channels));
  PutU32LE(h + 24, rate);
  PutU32LE(h + 28, rate * channels * 4);
  PutU16LE(h + 32, static_cast<uint16_t>(channels * 4));
  PutU16LE(h + 34, 32);
  h[36] = 'd';
  h[37] = 'a';
  h[38] = 't';
  h[39] = 'a';
  PutU32LE(h + 40, dataBytes);
  std::fseek(out, 0, SEEK_SET);
  std::fwrite(h, 1, sizeof h, out);
  std::fseek(out, 0, SEEK_END);
}

}  // namespace

bool WavWriter::Append(const std::filesystem::path& file, uint32_t sampleRate, uint32_t channels,
                       const float* interleaved, size_t sampleCount) {
  if (out_ == nullptr) {
    if (channels == 0 || sampleRate == 0)
      return false;
    out_ = std::fopen(file.string().c_str(), "wb+");
    if (out_ == nullptr)
      return false;
    sampleRate_ = sampleRate;
    channels_ = channels;
    WriteHeader(out_, sampleRate_, channels_, 0);
  }
  if (channels != channels_ || sampleRate != sampleRate_)
    return false;  // keep one format
  samples_ += std::fwrite(interleaved, sizeof(float), sampleCount, out_);
  return true;
}

void WavWriter::Close() {
  if (out_ == nullptr)
    return;
  WriteHeader(out_, sampleRate_, channels_, samples_);
  std::fclose(out_);
  out_ = nullptr;
}

}  // namespace Sorvane::receiver
