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

// Parameter sets as start-code-prefixed units from an AVC (SPS then PPS) or HEVC (every array)
// decoder configuration record; empty or partial for a malformed record.
std::vector<uint8_t> ReadAvcParameterSets(const uint8_t* record, size_t size);
std::vector<uint8_t> ReadHevcParameterSets(const uint8_t* record, size_t size);

}  // namespace Sorvane
