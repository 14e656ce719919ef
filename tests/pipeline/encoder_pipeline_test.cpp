#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "diag/log.h"
#include "host/encoder_pipeline.h"
#include "pipeline/fake_encoder.h"
#include "support/temp_profile.h"

namespace Sorvane {
namespace {

using test::FakeEncoder;
using test::FakeEncoderWorld;
using namespace std::chrono_literals;

EncoderSettings Settings(int w, int h, uint32_t bitrate = 1000000, float quality = 0.75f) {
  EncoderSettings s;
  s.width = w;
  s.height = h;
  s.fps = 30;
  s.bitrateBps = bitrate;
  s.quality = quality;
  return s;
}

bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 400; ++i) {
    if (done())
      return true;
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world = std::make_shared<FakeEncoderWorld>();
    first = std::make_shared<FakeEncoder>(world);
    pipeline = std::make_unique<EncoderPipeline>(first);
    pipeline->SetOutputCallback([this](const uint8_t* d, size_t, bool, uint64_t) {
      std::lock_guard<std::mutex> lock(outputLock);
      serials.push_back(d[0]);
    });
    ASSERT_TRUE(pipeline->Configure(640, 360, 1000000, 30));
  }
  void TearDown() override { pipeline->Shutdown(); }
  void Push(int frames) {
    static const uint8_t pixel[4] = {};
    for (int i = 0; i < frames; ++i)
      pipeline->Encode(pixel, 640, 360, 2560);
  }
  std::vector<int> Serials() {
    std::lock_guard<std::mutex> lock(outputLock);
    return serials;
  }

  std::shared_ptr<FakeEncoderWorld> world;
  std::shared_ptr<FakeEncoder> first;
  std::unique_ptr<EncoderPipeline> pipeline;
  std::mutex outputLock;
  std::vector<int> serials;
};

TEST_F(PipelineTest, SeamlessSwitchPromotesAtTheCopysFirstKeyframe) {
  Push(3);
  pipeline->Reconfigure(Settings(1280, 720));
  EXPECT_EQ(pipeline->TargetWidth(), 1280) << "the target shows while the copy is built";
  ASSERT_TRUE(Eventually([&] { return world->clones.load() == 1; }));
  ASSERT_TRUE(Eventually([&] {
    Push(1);
    return pipeline->Width() == 1280;
  }));
  Push(3);
  const std::vector<int> seen = Serials();
  // Only the current encoder's output reaches the callback: the old one's, then the copy's.
  const auto firstNew = std::find(seen.begin(), seen.end(), 2);
  ASSERT_NE(firstNew, seen.end());
  EXPECT_TRUE(std::all_of(seen.begin(), firstNew, [](int s) { return s == 1; }));
  EXPECT_TRUE(std::all_of(firstNew, seen.end(), [](int s) { return s == 2; }));
  EXPECT_EQ(pipeline->TargetWidth(), 1280);
  EXPECT_TRUE(Eventually([&] { return world->shutdowns.load() == 1; })) << "old one retired";

  first->EmitLate();  // a retired encoder's late output is dropped
  EXPECT_EQ(Serials().back(), 2);
}

TEST_F(PipelineTest, DuplicateAndRateOnlyRequestsMakeNoSecondCopy) {
  world->cloneFramesBeforeKeyframe = 1000000;  // the copy stays warming
  pipeline->Reconfigure(Settings(1280, 720));
  pipeline->Reconfigure(Settings(1280, 720));
  ASSERT_TRUE(Eventually([&] { return world->clones.load() == 1; }));
  pipeline->Reconfigure(Settings(1280, 720, 9000000, 0.2f));
  Push(5);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(world->clones.load(), 1);
  const std::vector<int> seen = Serials();
  EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int s) { return s == 1; }))
      << "a warming copy's output never reaches the callback";
  pipeline->SetGopSize(7);
  EXPECT_EQ(first->GopSize(), 7);
}

TEST_F(PipelineTest, FailedCopyFallsBackToAnInPlaceReconfigure) {
  const auto csv = LogFolder() / "transitions.csv";
  std::filesystem::remove(csv);
  world->failClone = true;
  pipeline->Reconfigure(Settings(1280, 720));
  ASSERT_TRUE(Eventually([&] { return pipeline->Width() == 1280; }));
  ASSERT_TRUE(
      Eventually([&] { return test::ReadFile(csv).find("Conservative") != std::string::npos; }));
  const std::string text = test::ReadFile(csv);
  EXPECT_EQ(
      text.rfind(
          "ts,mode,fromW,fromH,toW,toH,cloneMs,firstKeyMs,swapMs,totalMs,framesDropped,error\n", 0),
      0u);
  size_t clonesFailed = 0, conservative = 0;
  for (size_t at = text.find("clone_failed"); at != std::string::npos;
       at = text.find("clone_failed", at + 1))
    ++clonesFailed;
  for (size_t at = text.find(",Conservative,"); at != std::string::npos;
       at = text.find(",Conservative,", at + 1))
    ++conservative;
  EXPECT_EQ(clonesFailed, 1u);
  EXPECT_EQ(conservative, 1u);
  EXPECT_NE(text.find(",Seamless,640,360,1280,720,"), std::string::npos);
  EXPECT_EQ(pipeline->TargetWidth(), 1280);
  EXPECT_EQ(pipeline->CurrentMode(), EncoderPipeline::Mode::Seamless) << "the mode is restored";
}

TEST_F(PipelineTest, ShutdownWhileWaitingForAKeyframeReturnsPromptly) {
  world->cloneFramesBeforeKeyframe = 1000000;
  pipeline->Reconfigure(Settings(1280, 720));
  ASSERT_TRUE(Eventually([&] { return world->clones.load() == 1; }));
  const auto started = std::chrono::steady_clock::now();
  pipeline->Shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
  EXPECT_FALSE(pipeline->IsReady());
  EXPECT_EQ(pipeline->GopSize(), 1);
  EXPECT_EQ(pipeline->FrameCap(), 340000u);
}

// A synchronous encoder's output path comes back into the pipeline (keyframe requests,
// emergency compression) on the pushing thread while another thread keeps reconfiguring.
TEST_F(PipelineTest, ReentrantOutputAndConcurrentSwitchesDoNotDeadlock) {
  pipeline->SetOutputCallback([this](const uint8_t*, size_t, bool, uint64_t) {
    pipeline->RequestKeyframe();
    pipeline->CompressEmergency(1);
  });
  auto run = std::async(std::launch::async, [this] {
    std::thread switcher([this] {
      for (int i = 0; i < 40; ++i) {
        pipeline->Reconfigure(Settings(640 + 16 * (i % 5), 360));
        std::this_thread::sleep_for(1ms);
      }
    });
    for (int i = 0; i < 2000; ++i)
      Push(1);
    switcher.join();
  });
  ASSERT_EQ(run.wait_for(20s), std::future_status::ready) << "deadlock";
  EXPECT_GE(world->clones.load(), 1);
}

}  // namespace
}  // namespace Sorvane
