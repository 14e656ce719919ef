#include "diag/debug_topics.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "diag/log.h"
#include "diag/log_platform.h"

namespace Sorvane {
namespace {

constexpr int kTopicCount = 7;
constexpr size_t kKeptArchives = 5;
constexpr const char* kLowerNames[kTopicCount] = {
    "transitions", "controller", "encoder", "telemetry", "fps", "owd", "ui_sync"};
constexpr const char* kUpperNames[kTopicCount] = {
    "TRANSITIONS", "CONTROLLER", "ENCODER", "TELEMETRY", "FPS", "OWD", "UI_SYNC"};

struct TopicState {
  std::mutex mutex;
  std::ofstream stream;  // guarded by mutex
  std::atomic<bool> enabled{true};
  std::string lowerName;  // written once by the initialisation
  std::string upperName;
};

// Built on first use and kept for the life of the process (never destroyed: topic lines may be
// written from threads that outlive static destruction).
std::array<TopicState, kTopicCount>& Topics() {
  static auto* topics = new std::array<TopicState, kTopicCount>();
  return *topics;
}

int Index(DebugTopic topic) {
  return static_cast<int>(topic);
}

// UTC "YYYY-MM-DDThh:mm:ss.mmmZ".
std::string UtcStamp() {
  const auto now = std::chrono::system_clock::now();
  const time_t seconds = std::chrono::system_clock::to_time_t(now);
  const long long millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  tm utc{};
#if defined(_WIN32)
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
  return buffer;
}

// The topic's name in its file names: with the host's suffix after a "-" (each host keeps its own
// file), which no other topic's or host's "debug_<name>_" archive pattern can match.
std::string FileNamePart(int index, HostKind kind = DetectHost()) {
  const std::string suffix = HostFileSuffix(kind);
  return suffix.empty() ? std::string(kLowerNames[index]) : kLowerNames[index] + ("-" + suffix);
}

void InitialiseTopics() {
  const auto selection = logplatform::GetEnv("SORVANE_DEBUG_TOPICS");
  const auto enabled = topicdetail::ParseTopicSelection(selection ? selection->c_str() : nullptr);
  const std::filesystem::path folder = LogFolder();
  CreateLogFolder(folder);
  auto& topics = Topics();
  for (int i = 0; i < kTopicCount; ++i) {
    TopicState& topic = topics[i];
    topic.lowerName = kLowerNames[i];
    topic.upperName = kUpperNames[i];
    topic.enabled.store(enabled[i]);
    if (!enabled[i])
      continue;
    topicdetail::RotateTopicFiles(folder, FileNamePart(i));
    std::lock_guard<std::mutex> lock(topic.mutex);
    topic.stream.open(folder / DebugTopicFileName(static_cast<DebugTopic>(i), DetectHost()),
                      std::ios::out | std::ios::trunc);
  }
}

std::string Trim(std::string_view piece) {
  size_t begin = 0, end = piece.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(piece[begin])))
    ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(piece[end - 1])))
    --end;
  return std::string(piece.substr(begin, end - begin));
}

}  // namespace

namespace topicdetail {

std::array<bool, 7> ParseTopicSelection(const char* value) {
  std::array<bool, 7> enabled{};
  if (value == nullptr || *value == '\0') {
    enabled.fill(true);
    return enabled;
  }
  std::string lowered(value);
  for (char& c : lowered)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t start = 0;
  while (start <= lowered.size()) {
    size_t comma = lowered.find(',', start);
    if (comma == std::string::npos)
      comma = lowered.size();
    const std::string piece = Trim(std::string_view(lowered).substr(start, comma - start));
    for (int i = 0; i < kTopicCount; ++i) {
      if (!piece.empty() && piece == kLowerNames[i])
        enabled[i] = true;
    }
    start = comma + 1;
  }
  return enabled;
}

void RotateTopicFiles(const std::filesystem::path& folder, const std::string& name) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path current = folder / ("debug_" + name + ".log");
  if (fs::exists(current, ec)) {
    std::string stamp = UtcStamp();
    std::replace(stamp.begin(), stamp.end(), ':', '-');
    fs::rename(current, folder / ("debug_" + name + "_" + stamp + ".log"), ec);
  }
  // Names compared in the platform's own form: a file in the folder whose name has no narrow
  // form must not throw out of here.
  const fs::path::string_type prefix = fs::path("debug_" + name + "_").native();
  const fs::path::string_type extension = fs::path(".log").native();
  std::vector<std::pair<fs::file_time_type, fs::path>> archives;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec))
      continue;
    const fs::path::string_type file = it->path().filename().native();
    if (file.size() < 4 || file.rfind(prefix, 0) != 0)
      continue;
    if (file.compare(file.size() - 4, 4, extension) != 0)
      continue;
    std::error_code timeError;
    const auto written = fs::last_write_time(it->path(), timeError);
    if (!timeError)
      archives.emplace_back(written, it->path());
  }
  std::sort(archives.begin(), archives.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  for (size_t i = kKeptArchives; i < archives.size(); ++i)
    fs::remove(archives[i].second, ec);
}

}  // namespace topicdetail

std::string DebugTopicFileName(DebugTopic topic, HostKind kind) {
  const int i = Index(topic);
  if (i < 0 || i >= kTopicCount)
    return "debug_unknown.log";
  return "debug_" + FileNamePart(i, kind) + ".log";
}

const char* DebugTopicName(DebugTopic topic) {
  const int i = Index(topic);
  return (i >= 0 && i < kTopicCount) ? kLowerNames[i] : "unknown";
}

const char* DebugTopicUpperName(DebugTopic topic) {
  const int i = Index(topic);
  return (i >= 0 && i < kTopicCount) ? kUpperNames[i] : "UNKNOWN";
}

bool DebugTopicEnabled(DebugTopic topic) {
  const int i = Index(topic);
  if (i < 0 || i >= kTopicCount)
    return false;
  return Topics()[i].enabled.load();
}

void DebugTopicLog(DebugTopic topic, const char* format, ...) {
  const int i = Index(topic);
  if (i < 0 || i >= kTopicCount)
    return;
  TopicState& state = Topics()[i];
  if (!state.enabled.load())
    return;
  static std::once_flag once;
  std::call_once(once, InitialiseTopics);
  if (!state.enabled.load())
    return;

  char message[1024];
  message[0] = '\0';
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (n < 0)
      return;
  }
  const std::string stamp = UtcStamp();
  const auto thread =
      static_cast<unsigned long long>(std::hash<std::thread::id>{}(std::this_thread::get_id()));

  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.stream.is_open())
    return;
  state.stream << stamp << " | " << thread << " | "
               << (state.upperName.empty() ? "?" : state.upperName.c_str()) << " | " << message
               << '\n';
  state.stream.flush();
}

}  // namespace Sorvane
