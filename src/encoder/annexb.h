#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Access units in Annex B form: start codes, keyframe detection and parameter sets.
namespace Sorvane {

// Appends `bytes` in Annex B form: unchanged when they already start with a start code, else
// read as 4-byte big-endian length-prefixed NAL units (stopping at a zero or overlong length).
void AppendAnnexB(std::vector<uint8_t>& out, const uint8_t* bytes, size_t size);

// True when any NAL unit is an IDR slice (H.264) or an IRAP picture (HEVC types 16–21).
bool ScanForKeyframe(const uint8_t* bytes, size_t size, bool isHevc);

// Calls `unit(begin, size)` for every NAL unit of an Annex B byte stream (3- or 4-byte start
// codes), without its start code.
template <typename UnitFn>
void ForEachAnnexBUnit(const uint8_t* bytes, size_t size, UnitFn&& unit);

// The parameter-set units (H.264 SPS and PPS; HEVC VPS, SPS and PPS) of an Annex B stream, each
// behind a 4-byte start code, in stream order; other units (SEI) are left out.
std::vector<uint8_t> ParameterSetUnits(const uint8_t* bytes, size_t size, bool isHevc);

// Parameter sets as start-code-prefixed units from an AVC (SPS then PPS) or HEVC (every array)
// decoder configuration record; empty or partial for a malformed record.
std::vector<uint8_t> ReadAvcParameterSets(const uint8_t* record, size_t size);
std::vector<uint8_t> ReadHevcParameterSets(const uint8_t* record, size_t size);

namespace annexb_detail {
// Offset of the first start code at or after `from` and its length (3 or 4); size when none.
size_t FindStartCode(const uint8_t* bytes, size_t size, size_t from, size_t* codeLength);
}  // namespace annexb_detail

template <typename UnitFn>
void ForEachAnnexBUnit(const uint8_t* bytes, size_t size, UnitFn&& unit) {
  if (bytes == nullptr)
    return;
  size_t codeLength = 0;
  size_t start = annexb_detail::FindStartCode(bytes, size, 0, &codeLength);
  while (start < size) {
    const size_t begin = start + codeLength;
    size_t nextLength = 0;
    const size_t next = annexb_detail::FindStartCode(bytes, size, begin, &nextLength);
    if (next > begin)
      unit(bytes + begin, next - begin);
    start = next;
    codeLength = nextLength;
  }
}

}  // namespace Sorvane
