#include "encoder/annexb.h"

#include "base/byte_order.h"

namespace Sorvane {
namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

void AppendUnit(std::vector<uint8_t>& out, const uint8_t* unit, size_t size) {
  out.insert(out.end(), kStartCode, kStartCode + 4);
  out.insert(out.end(), unit, unit + size);
}

// Reads `count` units of u16-length + bytes from `p`; false when a unit runs past the end.
bool ReadUnits(const uint8_t*& p, const uint8_t* end, size_t count, std::vector<uint8_t>& out,
               bool* lengthMissing) {
  for (size_t i = 0; i < count; ++i) {
    if (end - p < 2) {
      *lengthMissing = true;
      return true;
    }
    const size_t length = GetU16BE(p);
    p += 2;
    if (static_cast<size_t>(end - p) < length)
      return false;
    AppendUnit(out, p, length);
    p += length;
  }
  return true;
}

bool IsParameterSet(uint8_t header, bool isHevc) {
  if (isHevc) {
    const int type = (header >> 1) & 0x3F;
    return type >= 32 && type <= 34;  // VPS, SPS, PPS
  }
  const int type = header & 0x1F;
  return type == 7 || type == 8;  // SPS, PPS
}

}  // namespace

namespace annexb_detail {

size_t FindStartCode(const uint8_t* bytes, size_t size, size_t from, size_t* codeLength) {
  for (size_t i = from; i + 3 <= size; ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0)
      continue;
    if (bytes[i + 2] == 1) {
      *codeLength = 3;
      return i;
    }
    if (bytes[i + 2] == 0 && i + 4 <= size && bytes[i + 3] == 1) {
      *codeLength = 4;
      return i;
    }
  }
  *codeLength = 0;
  return size;
}

}  // namespace annexb_detail

std::vector<uint8_t> ParameterSetUnits(const uint8_t* bytes, size_t size, bool isHevc) {
  std::vector<uint8_t> sets;
  ForEachAnnexBUnit(bytes, size, [&](const uint8_t* unit, size_t length) {
    if (IsParameterSet(unit[0], isHevc))
      AppendUnit(sets, unit, length);
  });
  return sets;
}

void AppendAnnexB(std::vector<uint8_t>& out, const uint8_t* bytes, size_t n) {
  if (bytes == nullptr || n == 0)
    return;
  if ((n >= 4 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 1) ||
      (n >= 3 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1)) {
    out.insert(out.end(), bytes, bytes + n);
    return;
  }
  size_t offset = 0;
  while (offset + 4 <= n) {
    const size_t length = GetU32BE(bytes + offset);
    offset += 4;
    if (length == 0 || offset + length > n)
      break;
    AppendUnit(out, bytes + offset, length);
    offset += length;
  }
}

bool ScanForKeyframe(const uint8_t* bytes, size_t size, bool isHevc) {
  if (bytes == nullptr || size < 4)
    return false;
  size_t i = 0;
  while (i + 3 < size) {
    if (bytes[i] != 0 || bytes[i + 1] != 0) {
      ++i;
      continue;
    }
    size_t header = 0;
    if (bytes[i + 2] == 0 && bytes[i + 3] == 1) {
      header = i + 4;
      i += 4;
    } else if (bytes[i + 2] == 1) {
      header = i + 3;
      i += 3;
    } else {
      ++i;
      continue;
    }
    if (header >= size)
      continue;
    if (isHevc) {
      const int type = (bytes[header] >> 1) & 0x3F;
      if (type >= 16 && type <= 21)
        return true;
    } else if ((bytes[header] & 0x1F) == 5) {
      return true;
    }
  }
  return false;
}

std::vector<uint8_t> ReadAvcParameterSets(const uint8_t* record, size_t size) {
  std::vector<uint8_t> out;
  if (record == nullptr || size < 7)
    return out;
  const uint8_t* p = record + 6;
  const uint8_t* end = record + size;
  bool lengthMissing = false;
  // An SPS list that ends early still lets the PPS list be read from where it stopped.
  ReadUnits(p, end, record[5] & 0x1F, out, &lengthMissing);
  if (p < end) {
    const size_t ppsCount = *p++;
    lengthMissing = false;
    ReadUnits(p, end, ppsCount, out, &lengthMissing);
  }
  return out;
}

std::vector<uint8_t> ReadHevcParameterSets(const uint8_t* record, size_t size) {
  std::vector<uint8_t> out;
  if (record == nullptr || size < 23)
    return out;
  const uint8_t* p = record + 23;
  const uint8_t* end = record + size;
  const size_t arrays = record[22];
  for (size_t a = 0; a < arrays; ++a) {
    if (end - p < 3)
      break;
    const size_t count = GetU16BE(p + 1);
    p += 3;
    bool lengthMissing = false;
    if (!ReadUnits(p, end, count, out, &lengthMissing))
      break;  // a unit ran past the end
  }
  return out;
}

}  // namespace Sorvane
