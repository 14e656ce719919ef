#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "base/host_kind.h"

namespace Sorvane {

// Optional trace streams, each its own file in the log folder: "debug_<name>.log", or
// "debug_<name>-<host suffix>.log" for a host with a suffix.
enum class DebugTopic : int32_t {
  Transitions = 0,
  Controller = 1,
  Encoder = 2,
  Telemetry = 3,
  Fps = 4,
  Owd = 5,
  UiSync = 6,
  Count = 7,
};

bool DebugTopicEnabled(DebugTopic topic);
void DebugTopicLog(DebugTopic topic, const char* format, ...);

// The topic's file name under a host.
std::string DebugTopicFileName(DebugTopic topic, HostKind kind);

const char* DebugTopicName(DebugTopic topic);       // "transitions" … , "unknown"
const char* DebugTopicUpperName(DebugTopic topic);  // "TRANSITIONS" … , "UNKNOWN"

namespace topicdetail {
// Exposed for tests: which topics a SORVANE_DEBUG_TOPICS value enables (null = unset).
std::array<bool, 7> ParseTopicSelection(const char* value);
// Exposed for tests: moves "debug_<name>.log" aside and keeps the five newest archives
// ("debug_<name>_*.log"); `name` carries the host suffix where there is one.
void RotateTopicFiles(const std::filesystem::path& folder, const std::string& name);
}  // namespace topicdetail

}  // namespace Sorvane
