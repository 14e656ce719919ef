#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <string>

#include "diag/debug_topics.h"
#include "diag/log.h"
#include "support/temp_profile.h"

namespace Sorvane {
namespace {

namespace fs = std::filesystem;

std::set<std::string> EnabledNames(const std::array<bool, 7>& enabled) {
  std::set<std::string> names;
  for (int i = 0; i < 7; ++i) {
    if (enabled[i])
      names.insert(DebugTopicName(static_cast<DebugTopic>(i)));
  }
  return names;
}

TEST(DebugTopicSelection, ParsesCaseAndSpacesAndIgnoresUnknownPieces) {
  EXPECT_EQ(EnabledNames(topicdetail::ParseTopicSelection(" Transitions , ENCODER,foo,,")),
            (std::set<std::string>{"transitions", "encoder"}));
  EXPECT_EQ(EnabledNames(topicdetail::ParseTopicSelection(nullptr)).size(), 7u);
  EXPECT_EQ(EnabledNames(topicdetail::ParseTopicSelection("")).size(), 7u);
  EXPECT_TRUE(EnabledNames(topicdetail::ParseTopicSelection("all")).empty());
  EXPECT_EQ(EnabledNames(topicdetail::ParseTopicSelection("\tui_sync\n")),
            (std::set<std::string>{"ui_sync"}));
}

TEST(DebugTopicNames, CountIsNeverATopic) {
  EXPECT_FALSE(DebugTopicEnabled(DebugTopic::Count));
  EXPECT_STREQ(DebugTopicName(DebugTopic::Count), "unknown");
  EXPECT_STREQ(DebugTopicUpperName(DebugTopic::Count), "UNKNOWN");
  EXPECT_STREQ(DebugTopicUpperName(DebugTopic::UiSync), "UI_SYNC");
}

void Touch(const fs::path& file, int ageSeconds) {
  std::ofstream(file) << "x";
  fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
}

TEST(DebugTopicRotation, KeepsTheFiveNewestArchivesWithTheRightNames) {
  const auto dir = test::MakeTempDir("topics");
  for (int i = 0; i < 7; ++i) {
    Touch(dir / ("debug_encoder_2020-01-0" + std::to_string(i + 1) + ".log"), 100 + i * 10);
  }
  Touch(dir / "debug_encoder.log", 50);  // the previous run's file: becomes the newest archive
  Touch(dir / "debug_encoder_notes.txt", 1000);
  Touch(dir / "debug_encoderx.log", 1000);
  Touch(dir / "debug_fps_2020.log", 1000);
  Touch(dir / "debug_encoder-ae.log", 1000);  // another host's files: never this host's archives
  Touch(dir / "debug_encoder-ae_2019-01-01.log", 1000);

  topicdetail::RotateTopicFiles(dir, "encoder");

  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir))
    left.insert(entry.path().filename().string());
  EXPECT_FALSE(left.count("debug_encoder.log"));
  // The four newest older archives survive, plus the renamed current file.
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(left.count("debug_encoder_2020-01-0" + std::to_string(i + 1) + ".log")) << i;
  }
  EXPECT_FALSE(left.count("debug_encoder_2020-01-05.log"));
  EXPECT_FALSE(left.count("debug_encoder_2020-01-07.log"));
  EXPECT_TRUE(left.count("debug_encoder_notes.txt"));
  EXPECT_TRUE(left.count("debug_encoderx.log"));
  EXPECT_TRUE(left.count("debug_fps_2020.log"));
  EXPECT_TRUE(left.count("debug_encoder-ae.log"));
  EXPECT_TRUE(left.count("debug_encoder-ae_2019-01-01.log"));
  int renamedCurrent = 0;
  for (const auto& name : left) {
    if (name.rfind("debug_encoder_20", 0) == 0 && name.find('T') != std::string::npos &&
        name.size() > 30) {
      ++renamedCurrent;
      EXPECT_EQ(name.find(':'), std::string::npos) << name;
    }
  }
  EXPECT_EQ(renamedCurrent, 1);

  // The other host's rotation takes its own current file and leaves this host's alone.
  topicdetail::RotateTopicFiles(dir, "encoder-ae");
  EXPECT_FALSE(fs::exists(dir / "debug_encoder-ae.log"));
  EXPECT_TRUE(fs::exists(dir / "debug_encoder-ae_2019-01-01.log"));
  EXPECT_TRUE(fs::exists(dir / "debug_encoder_2020-01-01.log"));
}

TEST(DebugTopicLine, WritesStampThreadTopicAndCutsLongMessages) {
  const std::string longText(2000, 'y');
  DebugTopicLog(DebugTopic::Fps, "%s", longText.c_str());
  DebugTopicLog(DebugTopic::Fps, nullptr);
  const std::string text = test::ReadFile(LogFolder() / "debug_fps-x.log");  // an unknown host
  const size_t marker = text.find(" | FPS | ");
  ASSERT_NE(marker, std::string::npos) << text.substr(0, 200);
  const size_t start = marker + 9;
  size_t end = text.find('\n', start);
  ASSERT_NE(end, std::string::npos);
  if (text[end - 1] == '\r')
    --end;  // text-mode files end lines with CR LF on Windows
  EXPECT_EQ(text.substr(start, end - start).find_first_not_of('y'), std::string::npos);
  EXPECT_EQ(end - start, 1023u);
  const bool emptyLine = text.find(" | FPS | \n", end) != std::string::npos ||
                         text.find(" | FPS | \r\n", end) != std::string::npos;
  EXPECT_TRUE(emptyLine) << "a null format writes an empty message";
  EXPECT_EQ(text[4], '-');
  EXPECT_EQ(text[10], 'T');
  EXPECT_EQ(text[23], 'Z');
}

}  // namespace
}  // namespace Sorvane
