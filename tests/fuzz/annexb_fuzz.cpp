// Encoder output as any encoder might hand it over: Annex B or length-prefixed access units,
// keyframe detection, parameter sets and decoder configuration records. The first byte picks
// HEVC or H.264.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "encoder/annexb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Sorvane;
  if (size == 0)
    return 0;
  const bool isHevc = (data[0] & 1) != 0;
  ++data;
  --size;
  std::vector<uint8_t> annexB;
  AppendAnnexB(annexB, data, size);
  (void)ScanForKeyframe(annexB.data(), annexB.size(), isHevc);
  (void)ParameterSetUnits(annexB.data(), annexB.size(), isHevc);
  size_t units = 0;
  ForEachAnnexBUnit(annexB.data(), annexB.size(), [&units](const uint8_t*, size_t n) {
    if (n == 0)
      __builtin_trap();  // empty units are never reported
    ++units;
  });
  (void)ReadAvcParameterSets(data, size);
  (void)ReadHevcParameterSets(data, size);
  return 0;
}
