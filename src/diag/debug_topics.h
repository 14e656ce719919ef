#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace Sorvane {

// Optional trace streams, each its own file "debug_<name>.log" in the log folder.
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

const char* DebugTopicName(DebugTopic topic);       // "transitions" … , "unknown"
const char* DebugTopicUpperName(DebugTopic topic);  // "TRANSITIONS" … , "UNKNOWN"

namespace topicdetail {
// Exposed for tests: which topics a SORVANE_DEBUG_TOPICS value enables (null = unset).
std::array<bool, 7> ParseTopicSelection(const char* value);
// Exposed for tests: moves the current file aside and keeps the five newest archives.
void RotateTopicFiles(const std::filesystem::path& folder, const std::string& name);
}  // namespace topicdetail

}  // namespace Sorvane
