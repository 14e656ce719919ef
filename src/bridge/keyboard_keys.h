#pragma once
// The host's keyboard shortcuts for each transport request and for the new-client nudge.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/host_kind.h"

namespace Sorvane {

inline constexpr uint16_t kVkShift = 0x10;
inline constexpr uint16_t kVkSpace = 0x20;
inline constexpr uint16_t kVkPageUp = 0x21;
inline constexpr uint16_t kVkPageDown = 0x22;
inline constexpr uint16_t kVkLeft = 0x25;
inline constexpr uint16_t kVkRight = 0x27;

struct KeyTap {
  uint16_t virtualKey;
  bool withShift;
};

// One keyboard input record.
struct KeyEvent {
  uint16_t virtualKey;
  bool keyUp;
  bool extended;  // arrows and Page keys: without it they arrive as keypad keys
  bool operator==(const KeyEvent&) const = default;
};

// The shortcut for transport request n (0 to 9); nullopt for any other value.
std::optional<KeyTap> FallbackKeyFor(uint32_t request);

struct NudgeKeys {
  KeyTap first;
  KeyTap second;
  const char* label;
};
// Keys that move the playhead one frame and back, so the host renders the current frame again.
NudgeKeys NudgeKeysFor(HostKind host);

// Shift down, key down, key up, Shift up — or just the key down and up.
std::vector<KeyEvent> KeyTapEvents(KeyTap tap);

// Readable text of events for logs ("Shift↓ 0x49↓ 0x49↑ Shift↑").
std::string DescribeKeyEvents(const std::vector<KeyEvent>& events);

}  // namespace Sorvane
