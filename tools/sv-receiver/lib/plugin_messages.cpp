#include "sv-receiver/lib/plugin_messages.h"

#include <cstring>

#include "base/byte_order.h"

namespace Sorvane::receiver {
namespace {

// u8 n then n bytes at `at`; the text and where it ended, cut short by the end of the payload.
std::string ShortStringAt(const std::vector<uint8_t>& payload, size_t& at, size_t end, bool* cut) {
  if (at >= end) {
    *cut = true;
    return {};
  }
  const size_t n = payload[at++];
  const size_t available = std::min(n, end - at);
  *cut = *cut || available < n;
  std::string text(reinterpret_cast<const char*>(payload.data() + at), available);
  at += available;
  return text;
}

}  // namespace

std::optional<StreamInfo> DecodeStreamInfo(const std::vector<uint8_t>& p) {
  if (p.size() != 10)
    return std::nullopt;
  return StreamInfo{GetU16LE(p.data()), GetU16LE(p.data() + 2), GetU16LE(p.data() + 4),
                    GetU32LE(p.data() + 6)};
}

std::optional<SourceChanged> DecodeSourceChanged(const std::vector<uint8_t>& p) {
  if (p.size() != 8)
    return std::nullopt;
  SourceChanged s{GetU16LE(p.data()), GetU16LE(p.data() + 2), 0};
  const uint32_t bits = GetU32LE(p.data() + 4);
  std::memcpy(&s.fps, &bits, sizeof bits);
  return s;
}

std::optional<HostPlatform> DecodeHostPlatform(const std::vector<uint8_t>& p) {
  if (p.size() != 2)
    return std::nullopt;
  return HostPlatform{p[0], p[1]};
}

std::optional<uint8_t> DecodeByte(const std::vector<uint8_t>& p) {
  if (p.size() != 1)
    return std::nullopt;
  return p[0];
}

std::optional<std::string> DecodeShortString(const std::vector<uint8_t>& p) {
  if (p.empty() || p.size() != 1u + p[0])
    return std::nullopt;
  return std::string(reinterpret_cast<const char*>(p.data() + 1), p[0]);
}

std::optional<EngineList> DecodeEngineList(const std::vector<uint8_t>& p) {
  if (p.empty() || p.size() != 1u + p[0])
    return std::nullopt;
  EngineList list;
  if (p[0] == 0)
    return list;
  const size_t end = p.size();
  list.announcedCount = p[1];
  size_t at = 2;
  for (size_t i = 0; i < list.announcedCount && at < end; ++i) {
    bool cut = false;
    EngineEntry entry;
    entry.id = ShortStringAt(p, at, end, &cut);
    entry.label = ShortStringAt(p, at, end, &cut);
    entry.note = ShortStringAt(p, at, end, &cut);
    list.engines.push_back(std::move(entry));
    if (cut) {
      list.lastEntryCut = true;
      break;
    }
  }
  return list;
}

const char* ControlMessageReader::Name(uint8_t opcode) {
  const std::optional<wire::PayloadRule> rule = wire::PluginMessageRule(opcode);
  return rule ? rule->name : "?";
}

}  // namespace Sorvane::receiver
