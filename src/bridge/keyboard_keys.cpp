#include "bridge/keyboard_keys.h"

#include <cstdio>

namespace Sorvane {
namespace {

constexpr KeyTap kFallbackKeys[] = {
    {kVkSpace, false},  // play/pause
    {kVkRight, false},  // step forward
    {kVkLeft, false},   // step back
    {kVkRight, true},   // step forward five
    {kVkLeft, true},    // step back five
    {0x49, true},       // go to in: Shift+I
    {0x4F, true},       // go to out: Shift+O
    {0x4A, false},      // shuttle reverse: J
    {0x4B, false},      // shuttle stop: K
    {0x4C, false},      // shuttle forward: L
};

bool IsExtendedKey(uint16_t vk) {
  return vk == kVkPageUp || vk == kVkPageDown || (vk >= 0x25 && vk <= 0x28);
}

}  // namespace

std::optional<KeyTap> FallbackKeyFor(uint32_t request) {
  if (request >= std::size(kFallbackKeys))
    return std::nullopt;
  return kFallbackKeys[request];
}

NudgeKeys NudgeKeysFor(HostKind host) {
  if (host == HostKind::AfterEffects)
    return {{kVkPageDown, false}, {kVkPageUp, false}, "PgDn/PgUp (AE)"};
  return {{kVkRight, false}, {kVkLeft, false}, "→← (Premiere)"};
}

std::vector<KeyEvent> KeyTapEvents(KeyTap tap) {
  const bool extended = IsExtendedKey(tap.virtualKey);
  std::vector<KeyEvent> events;
  if (tap.withShift)
    events.push_back({kVkShift, false, false});
  events.push_back({tap.virtualKey, false, extended});
  events.push_back({tap.virtualKey, true, extended});
  if (tap.withShift)
    events.push_back({kVkShift, true, false});
  return events;
}

std::string DescribeKeyEvents(const std::vector<KeyEvent>& events) {
  std::string text;
  for (const KeyEvent& e : events) {
    char one[24];
    std::snprintf(one, sizeof one, "%s0x%02X%s%s", text.empty() ? "" : " ", e.virtualKey,
                  e.extended ? "(ext)" : "", e.keyUp ? " up" : " down");
    text += one;
  }
  return text;
}

}  // namespace Sorvane
