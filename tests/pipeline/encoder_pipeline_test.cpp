#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <shared_mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "base/reader_preferring_mutex.h"
#include "diag/debug_topics.h"
#include "diag/log.h"
#include "host/encoder_pipeline.h"
#include "pipeline/fake_encoder.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

namespace Sorvane {
namespace {

using test::FakeEncoder;
using test::FakeEncoderWorld;
using test::WithEncoder;
using namespace std::chrono_literals;

constexpr char kCsvHeader[] =
    "ts,mode,fromW,fromH,toW,toH,cloneMs,firstKeyMs,swapMs,totalMs,framesDropped,error";

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
  for (int i = 0; i < 1000; ++i) {
    if (done())
      return true;
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

std::filesystem::path CsvPath() {
  return LogFolder() / "transitions.csv";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::vector<std::string> Fields(const std::string& row) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t comma; (comma = row.find(',', start)) != std::string::npos; start = comma + 1)
    fields.push_back(row.substr(start, comma - start));
  fields.push_back(row.substr(start));
  return fields;
}

// The rows of transitions.csv (header excluded) whose mode..toH columns start with `prefix`.
std::vector<std::vector<std::string>> RowsStarting(const std::string& prefix) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Lines(test::ReadFile(CsvPath()))) {
    const size_t comma = line.find(',');
    if (comma != std::string::npos && line.compare(comma + 1, prefix.size(), prefix) == 0)
      rows.push_back(Fields(line));
  }
  return rows;
}

std::string TopicLog() {
  return test::ReadFile(LogFolder() / DebugTopicFileName(DebugTopic::Transitions, DetectHost()));
}

// A deadlocked run cannot be joined; end the program with a verdict instead of hanging.
void ExitIfStuck(std::future<void>& run, std::chrono::seconds bound) {
  if (run.wait_for(bound) == std::future_status::ready)
    return;
  std::fprintf(stderr, "deadlock: still running after %lld s\n",
               static_cast<long long>(bound.count()));
  std::fflush(stderr);
  std::_Exit(1);
}

struct Output {
  int serial;
  bool keyframe;
  int frame;  // the encoder's own count
};

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world = std::make_shared<FakeEncoderWorld>();
    first = std::make_shared<FakeEncoder>(world);
    pipeline = std::make_unique<EncoderPipeline>(first);
    pipeline->SetOutputCallback([this](const uint8_t* d, size_t, bool key, uint64_t) {
      std::lock_guard<std::mutex> lock(outputLock);
      outputs.push_back({d[0], key, d[1]});
    });
    ASSERT_TRUE(pipeline->Configure(640, 360, 1000000, 30));
  }
  void TearDown() override { pipeline->Shutdown(); }
  void Push(int frames) {
    static const uint8_t pixel[4] = {};
    for (int i = 0; i < frames; ++i)
      pipeline->Encode(pixel, 640, 360, 2560);
  }
  std::vector<Output> Outputs() {
    std::lock_guard<std::mutex> lock(outputLock);
    return outputs;
  }
  std::vector<int> Serials() {
    std::vector<int> serials;
    for (const Output& o : Outputs())
      serials.push_back(o.serial);
    return serials;
  }
  // Waits until the copy with this serial exists, i.e. the request reached CloneLoop.
  bool CopyExists(int serial) {
    return Eventually([&] { return WithEncoder(*world, serial, [](FakeEncoder&) {}); });
  }
  // Pushes frames until the copy with this serial is being fed, i.e. it is the warming copy.
  bool Warming(int serial) {
    return Eventually([&] {
      int frames = 0;
      WithEncoder(*world, serial, [&](FakeEncoder& e) { frames = e.Frames(); });
      if (frames > 0)
        return true;
      Push(1);
      return false;
    });
  }

  std::shared_ptr<FakeEncoderWorld> world;
  std::shared_ptr<FakeEncoder> first;
  std::unique_ptr<EncoderPipeline> pipeline;
  std::mutex outputLock;
  std::vector<Output> outputs;
};

TEST_F(PipelineTest, SeamlessSwitchHandsOverAtTheCopysFirstKeyframeWithoutAGap) {
  std::filesystem::remove(CsvPath());
  world->cloneFramesBeforeKeyframe = 4;
  Push(3);
  EncoderSettings target = Settings(1280, 720);
  target.codec = Codec::H264;
  target.rateControl = RateControlMode::Quality;
  target.gopFrames = 60;
  pipeline->Reconfigure(target);
  EXPECT_EQ(pipeline->TargetWidth(), 1280) << "the target shows while the copy is built";
  EXPECT_EQ(pipeline->TargetHeight(), 720);
  EXPECT_EQ(pipeline->Width(), 640);
  ASSERT_TRUE(CopyExists(2));
  int pushed = 3;
  ASSERT_TRUE(Eventually([&] {
    Push(1);
    ++pushed;
    return pipeline->Width() == 1280;
  }));
  Push(3);
  pushed += 3;

  const std::vector<Output> seen = Outputs();
  // One output per frame, and the copy's keyframe of the frame it took over on: no gap.
  ASSERT_EQ(seen.size(), static_cast<size_t>(pushed) + 1);
  const auto handOver =
      std::find_if(seen.begin(), seen.end(), [](const Output& o) { return o.serial == 2; });
  ASSERT_NE(handOver, seen.end());
  EXPECT_TRUE(handOver->keyframe) << "the new encoder starts with a keyframe";
  EXPECT_TRUE(std::all_of(seen.begin(), handOver, [](const Output& o) { return o.serial == 1; }));
  EXPECT_TRUE(std::all_of(handOver, seen.end(), [](const Output& o) { return o.serial == 2; }));
  EXPECT_EQ(pipeline->GetCodec(), Codec::H264);
  EXPECT_EQ(pipeline->GopSize(), 60);
  EXPECT_EQ(pipeline->TargetWidth(), 1280) << "no target left: the encoder's own size";
  EXPECT_TRUE(Eventually([&] { return world->shutdowns.load() == 1; })) << "old one retired";

  const std::string topic = TopicLog();
  EXPECT_NE(topic.find("| TRANSITIONS | begin mode=Seamless fromW=640 fromH=360 toW=1280 toH=720 "
                       "codec=H264 rc=Quality gop=60 bps=1000000"),
            std::string::npos);
  EXPECT_NE(topic.find("clone ok cloneSetupMs="), std::string::npos);
  EXPECT_NE(topic.find("swap complete fromW=640 fromH=360 toW=1280 toH=720 swapMs="),
            std::string::npos);

  const std::vector<std::string> lines = Lines(test::ReadFile(CsvPath()));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], kCsvHeader);
  const std::vector<std::string> row = Fields(lines[1]);
  ASSERT_EQ(row.size(), 12u);
  EXPECT_EQ(row[0].find_first_not_of("0123456789"), std::string::npos) << "integer ms";
  EXPECT_EQ(row[1], "Seamless");
  EXPECT_EQ(row[2] + "x" + row[3] + ">" + row[4] + "x" + row[5], "640x360>1280x720");
  EXPECT_EQ(row[6], "") << "cloneMs is not measured for a swap";
  EXPECT_EQ(row[7], "") << "firstKeyMs is only logged";
  EXPECT_FALSE(row[8].empty());
  EXPECT_GE(std::stod(row[9]), std::stod(row[8])) << "total includes the swap";
  EXPECT_EQ(row[10], "0");
  EXPECT_EQ(row[11], "");
}

TEST_F(PipelineTest, WarmingAndRetiredEncodersNeverReachTheCallback) {
  world->cloneFramesBeforeKeyframe = 1000000;
  pipeline->Reconfigure(Settings(1280, 720));
  ASSERT_TRUE(Warming(2));
  int fed = 0;
  WithEncoder(*world, 2, [&](FakeEncoder& copy) { fed = copy.Frames(); });
  Push(5);
  EXPECT_TRUE(WithEncoder(*world, 2, [&](FakeEncoder& copy) {
    EXPECT_EQ(copy.Frames(), fed + 5) << "every frame feeds the warming copy too";
    copy.EmitLate();
  }));
  std::vector<int> seen = Serials();
  EXPECT_EQ(seen, std::vector<int>(first->Frames(), 1));

  // A second request retires the warming copy; its late output stays out too.
  world->cloneFramesBeforeKeyframe = 0;
  pipeline->Reconfigure(Settings(960, 540));
  ASSERT_TRUE(Eventually([&] {
    Push(1);
    return pipeline->Width() == 960;
  }));
  const size_t before = Outputs().size();
  std::thread([&] { first->EmitLate(); }).join();  // retired, late, as asynchronous output comes
  WithEncoder(*world, 2, [](FakeEncoder& copy) { copy.EmitLate(); });
  EXPECT_EQ(Outputs().size(), before);
  Push(1);
  seen = Serials();
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::none_of(seen.begin(), seen.end(), [](int s) { return s == 2; }));
  EXPECT_EQ(seen.back(), 3);
  const auto firstOfThird = std::find(seen.begin(), seen.end(), 3);
  EXPECT_TRUE(std::all_of(firstOfThird, seen.end(), [](int s) { return s == 3; }));
}

TEST_F(PipelineTest, TheTargetFollowsTheNewestRequestUntilItsOwnSwap) {
  world->holdClones = true;
  pipeline->Reconfigure(Settings(1280, 720));
  ASSERT_TRUE(Eventually([&] { return world->clonesWaiting.load() == 1; }));
  EncoderSettings newest = Settings(960, 540);
  newest.fps = 25;
  pipeline->Reconfigure(newest);  // queued while the first copy is still being built
  world->holdClones = false;
  // Whether the 1280 x 720 copy takes over first or is thrown away, the goal stays 960 x 540.
  ASSERT_TRUE(Eventually([&] {
    Push(1);
    EXPECT_EQ(pipeline->TargetWidth(), 960);
    EXPECT_EQ(pipeline->TargetHeight(), 540);
    EXPECT_EQ(pipeline->TargetFps(), 25);
    return pipeline->Width() == 960 || HasFailure();
  }));
  EXPECT_EQ(pipeline->FrameRate(), 25);
  pipeline->SetMode(EncoderPipeline::Mode::Conservative);
  pipeline->Reconfigure(Settings(800, 450));
  EXPECT_EQ(pipeline->TargetWidth(), 800) << "after the swap the target is the encoder itself";
}

TEST_F(PipelineTest, DuplicateAndRateOnlyRequestsMakeNoSecondCopy) {
  world->cloneFramesBeforeKeyframe = 1000000;  // copies stay warming
  pipeline->Reconfigure(Settings(1280, 720));
  pipeline->Reconfigure(Settings(1280, 720));
  ASSERT_TRUE(Warming(2));
  pipeline->Reconfigure(Settings(1280, 720, 9000000, 0.2f));  // the warming one but for rate
  EXPECT_FLOAT_EQ(pipeline->Quality(), 0.75f) << "ignored, its quality included";
  Push(5);

  // Against a queued request: hold CloneLoop inside Clone, queue one, then its rate-only twin,
  // which would replace it were it taken.
  world->holdClones = true;
  pipeline->Reconfigure(Settings(960, 540));
  ASSERT_TRUE(Eventually([&] { return world->clonesWaiting.load() == 1; }));
  EncoderSettings queued = Settings(800, 450);
  pipeline->Reconfigure(queued);
  queued.bitrateBps = 3000000;
  queued.quality = 0.9f;
  queued.peakBitrateBps = 5000000;
  queued.frameCap = 500000;
  pipeline->Reconfigure(queued);
  EXPECT_FLOAT_EQ(pipeline->Quality(), 0.75f);
  world->holdClones = false;
  ASSERT_TRUE(CopyExists(4)) << "the queued request is built after the held one";
  EXPECT_TRUE(WithEncoder(*world, 4, [](FakeEncoder& e) {
    EXPECT_EQ(e.Width(), 800);
    EXPECT_EQ(e.Bitrate(), 1000000u) << "built from the first of the twins";
  }));

  // Any of the six shaping fields makes a new copy.
  EncoderSettings other = Settings(800, 450);
  other.gopFrames = 30;
  pipeline->Reconfigure(other);
  ASSERT_TRUE(CopyExists(5));
  EXPECT_TRUE(WithEncoder(*world, 5, [](FakeEncoder& e) { EXPECT_EQ(e.GopSize(), 30); }));
  EXPECT_EQ(world->clones.load(), 4);
}

TEST_F(PipelineTest, AFailedCopyFallsBackToAnInPlaceReconfigure) {
  std::filesystem::remove(CsvPath());
  world->failClone = true;
  EncoderSettings s = Settings(1280, 720);
  s.gopFrames = 0;
  s.frameCap = 0;
  s.peakBitrateBps = 4000000;
  s.codec = Codec::H264;
  pipeline->Reconfigure(s);
  ASSERT_TRUE(Eventually([&] { return RowsStarting("Conservative,").size() == 1; }));

  EXPECT_EQ(pipeline->Width(), 1280);
  EXPECT_EQ(pipeline->TargetWidth(), 1280);
  EXPECT_EQ(pipeline->CurrentMode(), EncoderPipeline::Mode::Seamless) << "the mode is unchanged";
  EXPECT_EQ(first->GopSize(), 1) << "gop 0 counts as 1";
  EXPECT_EQ(first->FrameCap(), 340000u);
  EXPECT_EQ(first->PeakBitrate(), 4000000u);
  EXPECT_EQ(first->GetCodec(), Codec::H264);
  EXPECT_EQ(first->ForcedKeyframes(), 1);
  // Once the next request has been handled in turn, the first one is done with for good.
  EncoderSettings next = s;
  next.width = 960;
  pipeline->Reconfigure(next);
  ASSERT_TRUE(Eventually([&] { return RowsStarting("Conservative,").size() == 2; }));
  EXPECT_EQ(world->shutdowns.load(), 0) << "the only encoder is kept";

  const std::vector<std::string> lines = Lines(test::ReadFile(CsvPath()));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], kCsvHeader);
  const std::vector<std::string> failed = Fields(lines[1]);
  ASSERT_EQ(failed.size(), 12u);
  EXPECT_EQ(failed[1] + "," + failed[2] + "," + failed[3] + "," + failed[4] + "," + failed[5],
            "Seamless,640,360,1280,720");
  EXPECT_FALSE(failed[6].empty()) << "cloneMs";
  EXPECT_EQ(failed[7] + failed[8], "");
  EXPECT_EQ(failed[9], failed[6]) << "the same elapsed time";
  EXPECT_EQ(failed[11], "clone_failed");
  const std::vector<std::string> inPlace = Fields(lines[2]);
  ASSERT_EQ(inPlace.size(), 12u);
  EXPECT_EQ(inPlace[1] + "," + inPlace[2] + "," + inPlace[3] + "," + inPlace[4] + "," + inPlace[5],
            "Conservative,640,360,1280,720");
  EXPECT_EQ(inPlace[6] + inPlace[7] + inPlace[8], "");
  EXPECT_FALSE(inPlace[9].empty());
  EXPECT_EQ(inPlace[10] + inPlace[11], "0");

  const std::string topic = TopicLog();
  EXPECT_NE(topic.find("clone failed — falling back to conservative in-place reconfigure"),
            std::string::npos);
  EXPECT_NE(topic.find("single-encoder reconfigure fromW=640 fromH=360 toW=1280 toH=720 "
                       "durationMs="),
            std::string::npos);
}

TEST_F(PipelineTest, ConservativeModeReconfiguresTheOnlyEncoderAtOnce) {
  pipeline->SetMode(EncoderPipeline::Mode::Conservative);
  EncoderSettings s = Settings(1024, 576);
  s.rateControl = RateControlMode::VBR;
  pipeline->Reconfigure(s);
  EXPECT_EQ(pipeline->Width(), 1024) << "in place, on the calling thread";
  EXPECT_EQ(pipeline->GetRateControl(), RateControlMode::VBR);
  EXPECT_EQ(world->clones.load(), 0);
  Push(1);
  const std::vector<Output> seen = Outputs();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].keyframe);
  EXPECT_EQ(RowsStarting("Conservative,640,360,1024,576,,,,").size(), 1u);
}

// An asynchronous encoder's Configure and Shutdown wait for its output thread, whose callback
// may come back into the pipeline (a keyframe request, a query). Were the pipeline to hold its
// primary lock exclusively around them, the two would wait for each other.
TEST(PipelineLocking, EncodersAreConfiguredAndShutDownWithThePrimaryLockFree) {
  auto world = std::make_shared<FakeEncoderWorld>();
  EncoderPipeline* target = nullptr;
  std::atomic<int> stuck{0}, passed{0};
  std::vector<std::future<int>> callbacks;
  world->whileClosing = [&] {
    if (target == nullptr)
      return;
    // Kept beyond the call: a stuck callback must fail the test, not hang it here.
    callbacks.push_back(std::async(std::launch::async, [&] {
      target->RequestKeyframe();
      return target->Width();
    }));
    if (callbacks.back().wait_for(2s) == std::future_status::ready)
      ++passed;
    else
      ++stuck;
  };
  auto pipeline = std::make_unique<EncoderPipeline>(std::make_shared<FakeEncoder>(world));
  target = pipeline.get();
  ASSERT_TRUE(pipeline->Configure(640, 360, 1000000, 30));
  pipeline->SetMode(EncoderPipeline::Mode::Conservative);
  EncoderSettings s;
  s.width = 1280;
  s.height = 720;
  pipeline->Reconfigure(s);
  EXPECT_EQ(pipeline->Width(), 1280);
  pipeline->Shutdown();
  target = nullptr;
  EXPECT_EQ(stuck.load(), 0);
  EXPECT_EQ(passed.load(), 3) << "Configure, the in-place Configure and Shutdown";
}

TEST_F(PipelineTest, ForwardedSettersReachTheWarmingCopyToo) {
  world->cloneFramesBeforeKeyframe = 1000000;
  pipeline->Reconfigure(Settings(1280, 720));
  ASSERT_TRUE(Warming(2));
  pipeline->SetGopSize(7);
  pipeline->SetCodec(Codec::H264);
  pipeline->SetRateControl(RateControlMode::Quality, 0.3f);
  pipeline->RequestKeyframe();
  pipeline->CompressEmergency(4);
  for (int serial : {1, 2}) {
    EXPECT_TRUE(WithEncoder(*world, serial, [serial](FakeEncoder& e) {
      EXPECT_EQ(e.GopSize(), 7) << serial;
      EXPECT_EQ(e.GetCodec(), Codec::H264) << serial;
      EXPECT_EQ(e.GetRateControl(), RateControlMode::Quality) << serial;
      EXPECT_FLOAT_EQ(e.Quality(), 0.3f) << serial;
      EXPECT_EQ(e.KeyframeRequests(), 1) << serial;
      EXPECT_EQ(e.Emergencies(), serial == 1 ? 1 : 0) << "emergency compression: current only";
    }));
  }
}

// An encoder with frames in flight still delivers, after the swap, pictures that refer to its
// first keyframe, which it delivered while it warmed up: the client gets that keyframe first and
// then every one of them, none before it and none lost.
TEST_F(PipelineTest, ANewEncodersFramesStillInFlightAtTheSwapFollowItsKeyframe) {
  world->outputLatency = 2;
  pipeline->Reconfigure(Settings(1280, 720));
  ASSERT_TRUE(CopyExists(2));
  ASSERT_TRUE(Eventually([&] {
    Push(1);
    return pipeline->Width() == 1280;
  }));
  Push(6);
  const std::vector<Output> seen = Outputs();
  const auto handOver =
      std::find_if(seen.begin(), seen.end(), [](const Output& o) { return o.serial == 2; });
  ASSERT_NE(handOver, seen.end());
  EXPECT_TRUE(handOver->keyframe) << "the first picture of the new encoder is its keyframe";
  int expected = handOver->frame;
  for (auto it = handOver; it != seen.end(); ++it, ++expected) {
    EXPECT_EQ(it->serial, 2);
    EXPECT_EQ(it->frame, expected) << "in flight at the swap, and delivered";
  }
  EXPECT_GE(seen.end() - handOver, 6);
}

// The client's codec, GOP and rate control reach the encoder that takes over even when they
// arrive while its copy is being built or its request waits: the copy was made from older
// settings, and the setters reached only the current encoder.
TEST_F(PipelineTest, SettingsChangedWhileCopiesAreBuiltOrQueuedReachTheEncoderThatTakesOver) {
  world->holdClones = true;
  pipeline->Reconfigure(Settings(1280, 720));
  ASSERT_TRUE(Eventually([&] { return world->clonesWaiting.load() == 1; }));
  pipeline->Reconfigure(Settings(960, 540));  // queued behind the one being built
  pipeline->SetCodec(Codec::H264);
  pipeline->SetGopSize(7);
  pipeline->SetRateControl(RateControlMode::Quality, 0.3f);
  world->holdClones = false;
  ASSERT_TRUE(Eventually([&] {
    Push(1);
    return pipeline->Width() == 960;
  }));
  EXPECT_EQ(pipeline->GetCodec(), Codec::H264);
  EXPECT_EQ(pipeline->GopSize(), 7);
  EXPECT_EQ(pipeline->GetRateControl(), RateControlMode::Quality);
  EXPECT_FLOAT_EQ(pipeline->Quality(), 0.3f);
  EXPECT_TRUE(WithEncoder(*world, 3, [](FakeEncoder& e) { EXPECT_FLOAT_EQ(e.Quality(), 0.3f); }));
}

// A copy of a hardware encoder that only opened in software (the hardware took no second
// session) must not take over; the current encoder is reconfigured in place instead.
TEST_F(PipelineTest, ACopyOfAnotherKindIsRefusedAndTheEncoderIsReconfiguredInPlace) {
  world->kind = EncoderKind::Hardware;
  world->cloneKind = EncoderKind::Software;
  pipeline->Reconfigure(Settings(1280, 720));
  ASSERT_TRUE(Eventually([&] { return first->Width() == 1280; }));
  EXPECT_TRUE(Eventually([&] { return world->shutdowns.load() == 1; })) << "the copy is retired";
  EXPECT_EQ(test::Count(test::TestLog(),
                        "seamless switch: the copy opened in software where the "
                        "stream runs in hardware — rejected"),
            1u);
  Push(1);
  EXPECT_EQ(Serials().back(), 1) << "the current encoder goes on";

  world->cloneKind = EncoderKind::Hardware;
  pipeline->Reconfigure(Settings(960, 540));
  EXPECT_TRUE(Eventually([&] {
    Push(1);
    return pipeline->Width() == 960 && Serials().back() == 3;
  })) << "a copy of the same kind takes over as before";
}

TEST_F(PipelineTest, ShutdownWhileWaitingForAKeyframeReturnsPromptly) {
  world->cloneFramesBeforeKeyframe = 1000000;
  pipeline->Reconfigure(Settings(1280, 720));
  ASSERT_TRUE(Warming(2));  // CloneLoop is in its keyframe wait now
  const auto started = std::chrono::steady_clock::now();
  pipeline->Shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
  EXPECT_FALSE(first->IsConfigured()) << "the primary is shut down";
  EXPECT_FALSE(pipeline->IsReady());
  EXPECT_EQ(pipeline->Width(), 0);
  EXPECT_EQ(pipeline->Height(), 0);
  EXPECT_EQ(pipeline->FrameRate(), 0);
  EXPECT_EQ(pipeline->Description(), "");
  EXPECT_EQ(pipeline->GopSize(), 1);
  EXPECT_EQ(pipeline->GetCodec(), Codec::HEVC);
  EXPECT_EQ(pipeline->GetRateControl(), RateControlMode::Bitrate);
  EXPECT_EQ(pipeline->Bitrate(), 0u);
  EXPECT_EQ(pipeline->FrameCap(), 340000u);
  EXPECT_FALSE(pipeline->Configure(640, 360, 0, 30));
  Push(1);  // nothing left to encode with, and no crash
  EXPECT_TRUE(Eventually([&] { return test::LiveEncoders(*world) == 1; }))
      << "the warming copy is released; only the test's own reference is left";
  pipeline->Shutdown();  // again, as the destructor will
}

// A synchronous encoder's output path comes back into the pipeline (keyframe requests,
// emergency compression, GopSize) on the pushing thread, inside EncodeFrame, while other threads
// take the encoder lock exclusively: failed copies reconfigured in place on CloneLoop's thread,
// Conservative reconfigures from another thread, and setters from a control thread. The output
// path dawdles before coming back so that writers often queue up in between.
TEST_F(PipelineTest, ReentrantOutputUnderConcurrentSwitchesDoesNotDeadlock) {
  pipeline->SetOutputCallback([this](const uint8_t*, size_t, bool, uint64_t) {
    const auto until = std::chrono::steady_clock::now() + 50us;
    while (std::chrono::steady_clock::now() < until)
      std::this_thread::yield();
    if (pipeline->GopSize() > 0)
      pipeline->RequestKeyframe();
    pipeline->CompressEmergency(1);
  });
  std::atomic<bool> switched{false}, pushed{false};
  auto run = std::async(std::launch::async, [&] {
    std::thread switcher([&] {
      for (int i = 0; i < 150; ++i) {
        world->failClone = i % 3 == 1;
        if (i % 4 == 3) {
          pipeline->SetMode(EncoderPipeline::Mode::Conservative);
          pipeline->Reconfigure(Settings(640 + 16 * (i % 7), 360));
          pipeline->SetMode(EncoderPipeline::Mode::Seamless);
        } else {
          pipeline->Reconfigure(Settings(640 + 16 * (i % 7), 360));
        }
        std::this_thread::sleep_for(1ms);
      }
      switched = true;
    });
    std::thread control([&] {
      for (int i = 0; !pushed; ++i) {
        pipeline->SetGopSize(1 + i % 3);
        pipeline->RequestKeyframe();
        (void)pipeline->Description();
        std::this_thread::yield();
      }
    });
    for (int i = 0; i < 1500 || !switched; ++i)
      Push(1);
    pushed = true;
    switcher.join();
    control.join();
  });
  ExitIfStuck(run, 60s);
  EXPECT_GE(world->clones.load(), 1);
}

// Two threads encode at once (the host's pushes, and a new client's cached frame replayed on the
// network thread) while warming copies keep taking over, and the output path asks for keyframes.
// A swap made by one encoding thread must not wait for the encoder lock while holding what the
// other thread's output path needs next.
TEST_F(PipelineTest, SwapsWithTwoEncodingThreadsAndReentrantOutputDoNotDeadlock) {
  pipeline->SetOutputCallback([this](const uint8_t*, size_t, bool, uint64_t) {
    const auto until = std::chrono::steady_clock::now() + 50us;
    while (std::chrono::steady_clock::now() < until)
      std::this_thread::yield();
    pipeline->RequestKeyframe();
  });
  std::atomic<int> swaps{0};
  auto run = std::async(std::launch::async, [&] {
    std::atomic<bool> stop{false};
    std::thread replay([&] {
      while (!stop)
        Push(1);
    });
    for (int i = 0; i < 200; ++i) {
      const int width = i % 2 == 0 ? 1280 : 640;
      pipeline->Reconfigure(Settings(width, 360));
      if (Eventually([&] {
            Push(1);
            return pipeline->Width() == width;
          }))
        ++swaps;
    }
    stop = true;
    replay.join();
  });
  ExitIfStuck(run, 60s);
  EXPECT_EQ(swaps.load(), 200);
}

// What the pipeline relies on for that: a thread holding the lock shared takes it shared again
// even while a writer is waiting.
TEST(ReaderPreferringSharedMutexTest, ASecondSharedHoldDoesNotWaitForAWaitingWriter) {
  ReaderPreferringSharedMutex lock;
  std::atomic<bool> writerIn{false};
  auto reader = std::async(std::launch::async, [&] {
    std::shared_lock outer(lock);
    std::thread writer([&] {
      std::unique_lock exclusive(lock);
      writerIn = true;
    });
    std::this_thread::sleep_for(50ms);  // the writer is waiting by now
    {
      std::shared_lock inner(lock);
      EXPECT_FALSE(writerIn.load());
    }
    outer.unlock();
    writer.join();
  });
  ExitIfStuck(reader, 20s);
  EXPECT_TRUE(writerIn.load()) << "the writer gets in once the readers are gone";
}

TEST(TransitionRowTest, WritesTheHeaderOnceAndLeavesUnmeasuredFieldsEmpty) {
  std::filesystem::remove(CsvPath());
  WriteTransitionRow("Seamless", 1, 2, 3, 4, 1.5, -1, 0.25, 1234567.0, 0, "");
  WriteTransitionRow("Seamless", 5, 6, 7, 8, 1.0 / 3.0, -1, -1, 2.0, 0, "clone_failed");
  const std::vector<std::string> lines = Lines(test::ReadFile(CsvPath()));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], kCsvHeader);
  // Six significant digits, the stream's default.
  EXPECT_EQ(lines[1].substr(lines[1].find(',')), ",Seamless,1,2,3,4,1.5,,0.25,1.23457e+06,0,");
  EXPECT_EQ(lines[2].substr(lines[2].find(',')), ",Seamless,5,6,7,8,0.333333,,,2,0,clone_failed");
  EXPECT_EQ(test::ReadFile(CsvPath()).find('\r'), std::string::npos) << "\\n line ends";

  // Not writable: the row is lost without a word.
  std::filesystem::remove(CsvPath());
  std::filesystem::create_directories(CsvPath());
  WriteTransitionRow("Conservative", 1, 2, 3, 4, -1, -1, -1, 1.0, 0, "");
  EXPECT_TRUE(std::filesystem::is_directory(CsvPath()));
  std::filesystem::remove(CsvPath());
}

}  // namespace
}  // namespace Sorvane
