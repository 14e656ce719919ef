#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>

#include "base/utf8_text.h"
#include "diag/log.h"
#include "diag/log_text.h"
#include "support/temp_profile.h"

namespace Sorvane {
namespace {

const LogChannel kNetwork{"com.sorvane.plugin", "network"};

std::filesystem::path LogFile() {
  return LogFolder() / LogFileNameFor(DetectHost());
}

// Lines appended by the code under test since `mark` (a byte offset into the log file).
std::string LogSince(size_t mark) {
  const std::string all = test::ReadFile(LogFile());
  return mark <= all.size() ? all.substr(mark) : std::string();
}

size_t LogMark() {
  return test::ReadFile(LogFile()).size();
}

TEST(LogLevelFromEnvironment, OnlyTheExactValueOneEnablesDebug) {
  EXPECT_EQ(logdetail::MinLevelFromEnv(nullptr), kLogInfo);
  EXPECT_EQ(logdetail::MinLevelFromEnv("1"), kLogDebug);
  for (const char* other : {"", "1 ", "true", "10", "0", " 1"}) {
    EXPECT_EQ(logdetail::MinLevelFromEnv(other), kLogInfo) << "'" << other << "'";
  }
}

TEST(LogLevelFromEnvironment, ModuleLoadFilterFollowsTheVariable) {
  const char* env = std::getenv("SV_LOG_DEBUG");
  const bool debugOn = env != nullptr && std::string(env) == "1";
  const size_t mark = LogMark();
  Log(kNetwork, kLogDebug, "debug line %d", 1);
  Log(kNetwork, kLogInfo, "info line");
  Log(kNetwork, kLogError, "error line");
  Log(kNetwork, kLogFault, "fault line");
  const std::string text = LogSince(mark);
  EXPECT_EQ(text.find("debug line 1") != std::string::npos, debugOn);
  for (const char* line : {"info line", "error line", "fault line"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
}

TEST(LogLine, HasTimestampChannelLevelAndCrLf) {
  const size_t mark = LogMark();
  Log(kNetwork, kLogInfo, "Listening on :%u", 47100u);
  const std::string text = LogSince(mark);
  const std::regex line(
      R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} com\.sorvane\.plugin:network:INFO\] Listening on :47100\r\n)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST(LogLine, AnnotationsAreStrippedBeforeFormatting) {
  const size_t mark = LogMark();
  Log(kNetwork, kLogInfo, "peer %{public}s connected", "Phone");
  Log(kNetwork, kLogInfo, "count %{private}d items", 42);
  const std::string text = LogSince(mark);
  EXPECT_NE(text.find("] peer Phone connected\r\n"), std::string::npos);
  EXPECT_NE(text.find("] count 42 items\r\n"), std::string::npos);

  char out[64];
  logdetail::StripAnnotations("a %{unterminated", out, sizeof out);
  EXPECT_STREQ(out, "a %");
}

TEST(LogLine, NullChannelMembersAndUnknownLevels) {
  const size_t mark = LogMark();
  Log(LogChannel{nullptr, "network"}, kLogInfo, "no subsystem");
  Log(LogChannel{"com.sorvane.plugin", nullptr}, 7, "level seven");
  const std::string text = LogSince(mark);
  EXPECT_NE(text.find(" ?:network:INFO] no subsystem"), std::string::npos) << text;
  EXPECT_NE(text.find(" com.sorvane.plugin:?:LOG] level seven"), std::string::npos) << text;
}

TEST(LogLine, LongMessagesAreCutAt1023Characters) {
  const size_t mark = LogMark();
  const std::string longText(2000, 'x');
  Log(kNetwork, kLogInfo, "%s", longText.c_str());
  const std::string text = LogSince(mark);
  const size_t start = text.find("] ") + 2;
  const size_t end = text.find("\r\n", start);
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(end - start, 1023u);
}

TEST(LogFile, RotatesOnlyAboveFourMebibytes) {
  const auto dir = test::MakeTempDir("rotation");
  const auto file = dir / "plugin.log";
  const auto archive = dir / "plugin.log.1";
  std::ofstream(archive) << "old archive";
  std::ofstream(file, std::ios::binary) << std::string(4194304, 'a');

  logdetail::AppendLineToFile(file, "next\r\n", 6);
  EXPECT_EQ(std::filesystem::file_size(file), 4194310u) << "exactly 4 MiB is not rotated";
  EXPECT_EQ(test::ReadFile(archive), "old archive");

  std::filesystem::resize_file(file, 4194305);
  logdetail::AppendLineToFile(file, "fresh\r\n", 7);
  EXPECT_EQ(test::ReadFile(file), "fresh\r\n");
  EXPECT_EQ(std::filesystem::file_size(archive), 4194305u) << "archive replaced";
}

TEST(LogFile, NamesFollowTheHost) {
  EXPECT_EQ(LogFileNameFor(HostKind::PremierePro), "plugin.log");
  EXPECT_EQ(LogFileNameFor(HostKind::AfterEffects), "plugin-ae.log");
  EXPECT_EQ(LogFileNameFor(HostKind::MediaEncoder), "plugin-ame.log");
  EXPECT_EQ(LogFileNameFor(HostKind::Unknown), "plugin-x.log");
  EXPECT_EQ(LogFileNameFor(DetectHost()), "plugin-x.log") << "a test program is an unknown host";
}

TEST(LogFile, FolderFollowsLocalAppData) {
  EXPECT_EQ(LogFolder(), test::ProfileRoot() / "local" / "Sorvane");
}

#if !defined(_WIN32)
// The log holds pairing codes: like the state files, it is its owner's alone.
TEST(LogFile, FileAndFolderAreTheOwnersAlone) {
  const std::string saved = std::getenv("LOCALAPPDATA");
  test::SetEnv("LOCALAPPDATA", test::MakeTempDir("fresh-local").c_str());
  Log(kNetwork, kLogInfo, "pairing code 123456");
  const std::filesystem::path folder = LogFolder();
  test::SetEnv("LOCALAPPDATA", saved.c_str());
  const auto mode = [](const std::filesystem::path& path) {
    return std::filesystem::status(path).permissions() & std::filesystem::perms::all;
  };
  EXPECT_EQ(mode(folder), std::filesystem::perms::owner_all);
  EXPECT_EQ(mode(folder / LogFileNameFor(DetectHost())),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}
#endif

// Paths reach the log as UTF-8 whatever the user's folder is called; nothing throws.
TEST(LogText, PathsAndUtf16BecomeUtf8) {
  EXPECT_EQ(Utf8FromUtf16(u"B\u00fcro-\u6771\U0001F600"),
            "B\xC3\xBCro-\xE6\x9D\xB1\xF0\x9F\x98\x80");
  const std::u16string lone{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
  EXPECT_EQ(Utf8FromUtf16(lone),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD")
      << "unpaired surrogates";
#if defined(_WIN32)
  EXPECT_EQ(PathForLog(std::filesystem::path(L"C:\\\u0141ukasz\\x\xD800")),
            "C:\\\xC5\x81ukasz\\x\xEF\xBF\xBD");
#else
  EXPECT_EQ(PathForLog(std::filesystem::path("/home/\xC5\x81ukasz/\xFF")),
            "/home/\xC5\x81ukasz/\xFF")
      << "POSIX names are bytes: passed on as they are";
#endif
}

}  // namespace
}  // namespace Sorvane
