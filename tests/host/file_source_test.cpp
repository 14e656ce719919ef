#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/temp_profile.h"
#include "sv-host/file_source.h"
#include "sv-host/source_setup.h"

namespace Sorvane::hostsim {
namespace {

namespace fs = std::filesystem;

// Clips made with the ffmpeg tool, once for the whole program.
class FileSourceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(test::MakeTempDir("clips"));
    ffmpegWorks_ = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
  }

  void SetUp() override {
    if (!ffmpegWorks_)
      GTEST_SKIP() << "the ffmpeg tool is not installed";
  }

  static fs::path Make(const std::string& name, const std::string& args) {
    const fs::path path = *dir_ / name;
    if (!fs::exists(path)) {
      const std::string command =
          "ffmpeg -v error -y " + args + " '" + path.string() + "' </dev/null";
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
    return path;
  }

  // Two seconds of a red picture at 25 fps with a 1 kHz mono tone at 44.1 kHz.
  static fs::path RedWithSound() {
    return Make("red.mp4",
                "-f lavfi -i color=c=red:size=320x240:rate=25 -f lavfi "
                "-i sine=frequency=1000:sample_rate=44100 -t 2 -c:v libx264 -pix_fmt yuv420p "
                "-c:a aac -ac 1");
  }

  static fs::path Moving(const std::string& name, const std::string& size, int fps,
                         const std::string& codec, double seconds = 1) {
    return Make(name, "-f lavfi -i testsrc2=size=" + size + ":rate=" + std::to_string(fps) +
                          " -t " + std::to_string(seconds) + " " + codec);
  }

  static std::vector<uint8_t> Picture(FileSource& source) {
    const FileSource::Info& info = source.info();
    std::vector<uint8_t> bgra(static_cast<size_t>(info.width) * info.height * 4, 0x55);
    source.NextPicture(bgra.data(), info.width * 4);
    return bgra;
  }

  static inline fs::path* dir_ = nullptr;
  static inline bool ffmpegWorks_ = false;
};

TEST_F(FileSourceTest, H264WithSoundGivesBgraPicturesAndStereoFloatSound) {
  std::string error;
  auto source = FileSource::Open(RedWithSound().string(), 0, 0, &error);
  ASSERT_TRUE(source) << error;
  const FileSource::Info& info = source->info();
  EXPECT_EQ(info.width, 320);
  EXPECT_EQ(info.height, 240);
  EXPECT_DOUBLE_EQ(info.fps, 25.0);
  EXPECT_TRUE(info.hasAudio);
  const auto bgra = Picture(*source);
  const uint8_t* middle = &bgra[(120 * 320 + 160) * 4];
  EXPECT_LT(middle[0], 40);   // blue
  EXPECT_LT(middle[1], 40);   // green
  EXPECT_GT(middle[2], 200);  // red
  EXPECT_EQ(middle[3], 255);
  // One second of sound: resampled to 48 kHz, 1 kHz on both channels (2,000 sign changes).
  for (int chunk = 0; chunk < 4; ++chunk)
    source->NextAudio(1024);  // past the encoder's priming silence
  float** samples = source->NextAudio(kSourceSampleRate);
  for (uint32_t c = 0; c < kSourceChannels; ++c) {
    int crossings = 0;
    for (uint32_t i = 1; i < kSourceSampleRate; ++i)
      crossings += (samples[c][i - 1] < 0) != (samples[c][i] < 0);
    EXPECT_NEAR(crossings, 2000, 20) << "channel " << c;
  }
}

TEST_F(FileSourceTest, LoopsAtTheEndAndKeepsItsSoundGoing) {
  std::string error;
  const fs::path clip = Moving("ten.mp4", "160x120", 10, "-c:v libx264 -pix_fmt yuv420p");
  auto source = FileSource::Open(clip.string(), 0, 0, &error);
  ASSERT_TRUE(source) << error;
  std::vector<std::vector<uint8_t>> pictures;
  for (int i = 0; i < 25; ++i)
    pictures.push_back(Picture(*source));
  EXPECT_NE(pictures[0], pictures[5]);
  EXPECT_EQ(pictures[0], pictures[10]);
  EXPECT_EQ(pictures[3], pictures[23]);
  EXPECT_EQ(source->repeatedPictures(), 0u);
  EXPECT_FALSE(source->info().hasAudio);
  // Skipping keeps the same order as converting.
  auto skipping = FileSource::Open(clip.string(), 0, 0, &error);
  ASSERT_TRUE(skipping) << error;
  for (int i = 0; i < 14; ++i)
    skipping->SkipPicture();
  EXPECT_EQ(Picture(*skipping), pictures[14]);
}

TEST_F(FileSourceTest, Vp9WebmAndOddSizesScaleToAnyOutputSize) {
  std::string error;
  auto vp9 = FileSource::Open(
      Moving("clip.webm", "320x180", 30, "-c:v libvpx-vp9 -deadline realtime").string(), 0, 0,
      &error);
  ASSERT_TRUE(vp9) << error;
  EXPECT_EQ(vp9->info().width, 320);
  EXPECT_DOUBLE_EQ(vp9->info().fps, 30.0);
  EXPECT_NE(vp9->info().description.find("vp9"), std::string::npos);

  const fs::path odd =
      Moving("odd.mkv", "320x240", 30, "-vf scale=161:97 -c:v libx264 -pix_fmt yuv444p");
  auto own = FileSource::Open(odd.string(), 0, 0, &error);
  ASSERT_TRUE(own) << error;
  EXPECT_EQ(own->info().width, 161);
  EXPECT_EQ(own->info().height, 97);
  Picture(*own);
  auto scaled = FileSource::Open(odd.string(), 1281, 721, &error);
  ASSERT_TRUE(scaled) << error;
  const auto bgra = Picture(*scaled);
  EXPECT_EQ(bgra.size(), 1281u * 721 * 4);
  EXPECT_EQ(bgra.back(), 255);  // the last pixel was written (alpha)
}

TEST_F(FileSourceTest, BrokenFilesGiveOneClearError) {
  const fs::path whole = RedWithSound();
  std::string bytes = test::ReadFile(whole);
  const fs::path truncated = *dir_ / "truncated.mp4";
  std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 3);
  const fs::path text = *dir_ / "notes.mp4";
  std::ofstream(text) << "this is not a video\n";
  const fs::path soundOnly = Make("sound.m4a", "-f lavfi -i sine=frequency=440 -t 1 -c:a aac");
  for (const fs::path& path : {truncated, text, soundOnly, *dir_ / "missing.mp4"}) {
    std::string error;
    EXPECT_FALSE(FileSource::Open(path.string(), 0, 0, &error)) << path;
    EXPECT_NE(error.find(path.filename().string()), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST_F(FileSourceTest, ATruncatedStreamablePartPlaysWhatItHolds) {
  // With the index at the front the first part of a cut file still decodes; the rest of a pass
  // is simply shorter.
  const fs::path whole =
      Moving("front.mp4", "320x240", 25, "-c:v libx264 -pix_fmt yuv420p -movflags +faststart", 4);
  const std::string bytes = test::ReadFile(whole);
  const fs::path cut = *dir_ / "front-cut.mp4";
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  std::string error;
  auto source = FileSource::Open(cut.string(), 0, 0, &error);
  ASSERT_TRUE(source) << error;
  for (int i = 0; i < 200; ++i)
    Picture(*source);
  EXPECT_EQ(source->repeatedPictures(), 0u);
}

TEST_F(FileSourceTest, TheRunTakesTheFilesSizeAndRateUnlessGiven) {
  std::ostringstream progress;
  std::string error;
  HostRunOptions run;
  run.sourcePath = RedWithSound().string();
  ASSERT_TRUE(OpenRunSource(run, progress, &error)) << error;
  EXPECT_EQ(run.width, 320);
  EXPECT_EQ(run.height, 240);
  EXPECT_EQ(run.fps, 25);

  HostRunOptions given = run;
  given.width = 1280, given.height = 720, given.sizeGiven = true;
  given.fps = 60, given.fpsGiven = true;
  auto source = OpenRunSource(given, progress, &error);
  ASSERT_TRUE(source) << error;
  EXPECT_EQ(source->info().width, 1280);
  EXPECT_EQ(given.width, 1280);
  EXPECT_EQ(given.fps, 60);
}

}  // namespace
}  // namespace Sorvane::hostsim
