#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "base/byte_order.h"
#include "diag/log.h"
#include "encoder/encoder_factory.h"
#include "host/encoder_pipeline.h"
#include "host/paired_instance_test_base.h"
#include "host/transmit_entry.h"
#include "host/transmit_instance.h"
#include "net/datagram_header.h"
#include "net/shared_transport.h"
#include "pipeline/fake_encoder.h"
#include "support/manual_clock.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"
#include "sv-host/host_suites.h"
#include "transport/spy_dialog.h"
#include "transport/test_client.h"
#if defined(_WIN32)
#include <objbase.h>

#include "support/test_transform/test_transform.h"
#endif

namespace Sorvane {
namespace {

using namespace std::chrono_literals;
using hostsim::HostSuites;

class PushPathTest : public test::PairedInstanceTest {
 protected:
  void Push(int w, int h, int frames = 1, int rowBytes = 0) {
    std::vector<sdk::tmLabeledFrame> labeled;
    for (int i = 0; i < frames; ++i) {
      labeled.push_back(
          {HostSuites::Instance().NewFrame(w, h, rowBytes ? rowBytes : w * 4), nullptr});
    }
    const sdk::tmPushVideo push{-1, sdk::playmode_Playing, sdk::kPrRenderQuality_High,
                                labeled.data(), labeled.size()};
    instance->PushVideo(&push);
  }
  // The messages the phone has received until none comes for a while.
  std::vector<wire::ControlReadResult> Received(int timeoutMs = 300) {
    std::vector<wire::ControlReadResult> messages;
    while (auto m = client->Next(timeoutMs))
      messages.push_back(*m);
    return messages;
  }
  static std::vector<std::string> EncoderInfoTexts(
      const std::vector<wire::ControlReadResult>& messages) {
    std::vector<std::string> texts;
    for (const auto& m : messages) {
      if (m.opcode == wire::kEncoderInfo && !m.payload.empty())
        texts.emplace_back(m.payload.begin() + 1, m.payload.end());
    }
    return texts;
  }
  static int StreamInfos(const std::vector<wire::ControlReadResult>& messages, int w, int h) {
    int n = 0;
    for (const auto& m : messages) {
      n += m.opcode == wire::kStreamInfo && m.payload.size() >= 4 &&
           GetU16LE(m.payload.data()) == w && GetU16LE(m.payload.data() + 2) == h;
    }
    return n;
  }
  static std::string TestLog() { return test::TestLog(); }
  // Lines written since the test began (the log file is the whole program's).
  int LogLines(const std::string& needle) const {
    const std::string log = TestLog();
    int n = 0;
    for (size_t at = log.find(needle, logStart); at != std::string::npos;
         at = log.find(needle, at + 1))
      ++n;
    return n;
  }
  const size_t logStart = TestLog().size();
  int SourceChangedMessages(int timeoutMs = 300) {
    int n = 0;
    while (auto m = client->Next(timeoutMs))
      n += m->opcode == wire::kSourceChanged;
    return n;
  }
};

TEST_F(PushPathTest, OneFramePerPushAndEveryFrameDisposed) {
  auto& counters = HostSuites::Instance().counters();
  const int64_t disposed = counters.framesDisposed.load();
  Push(640, 360, 3);
  EXPECT_EQ(counters.framesDisposed.load(), disposed + 3);
  EXPECT_EQ(instance->CopyPipeline()->Width(), 640) << "the first frame configured the encoder";
  Push(15, 200);
  Push(200, 15);
  Push(64, 64, 1, 64 * 4 - 8);  // rows shorter than the width: the encoder would overread
  EXPECT_EQ(instance->CopyPipeline()->Width(), 640) << "too small or short-row frames are dropped";
  EXPECT_NE(test::TestLog().find("PushVideo: row bytes 248 < width 64"), std::string::npos);
  Push(16, 16);
  EXPECT_TRUE([&] {
    for (int i = 0; i < 100; ++i) {
      if (world->clones.load() == 1)
        return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }()) << "16 x 16 is accepted (and needs a new encoder)";
  EXPECT_EQ(counters.framesDisposed.load(), counters.framesCreated.load());
}

TEST_F(PushPathTest, SmallSizeChangesKeepTheEncoder) {
  const uint8_t cap[2] = {0x38, 0x04};  // 1080
  instance->HandleControl(wire::kSetMaxResolution, cap, 2);
  Push(3840, 2160);
  EXPECT_EQ(instance->CopyPipeline()->Width(), 1920);
  Push(1900, 1070);
  // A switch is requested inside the push, and its target shows at once.
  EXPECT_EQ(instance->CopyPipeline()->TargetWidth(), 1920) << "within 5 % of the target";
  Push(1800, 1012);
  EXPECT_EQ(instance->CopyPipeline()->TargetWidth(), 1800) << "more than 5 % away";
  for (int i = 0; i < 100 && world->clones.load() == 0; ++i)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(world->clones.load(), 1);
}

// The phone's choices outlive a new source size: the copy made for it is set up as the phone
// asked, not with the defaults.
TEST_F(PushPathTest, ANewSourceSizeKeepsThePhonesEncoderMode) {
  const uint8_t quality40[2] = {1, 40};
  instance->HandleControl(wire::kSetEncoderMode, quality40, 2);
  Push(640, 360);
  Push(1280, 720);
  ASSERT_TRUE([&] {
    for (int i = 0; i < 200; ++i) {
      if (test::WithEncoder(*world, 2, [](test::FakeEncoder&) {}))
        return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }()) << "no copy was made for the new size";
  EXPECT_TRUE(test::WithEncoder(*world, 2, [](test::FakeEncoder& copy) {
    EXPECT_EQ(copy.Width(), 1280);
    EXPECT_EQ(copy.GetRateControl(), RateControlMode::Quality);
    EXPECT_FLOAT_EQ(copy.Quality(), 0.40f);
  }));
}

// Every new phone is told the engines, but the machine is asked only once per process: the list
// is not made again under the locks the host's render thread waits for.
TEST_F(PushPathTest, NewPhonesGetTheEngineListWithoutEnumeratingAgain) {
  for (const char* id : {"second-phone", "third-phone"}) {
    auto phone = PairPhone(id, "Phone");
    bool listed = false;
    while (auto message = phone->Next()) {
      listed |= message->opcode == wire::kEncoderEngineList;
      if (message->opcode == wire::kTransmitState)
        break;
    }
    EXPECT_TRUE(listed) << id;
  }
  EXPECT_LE(test::Count(TestLog(), "EnumerateEngines: "), 1u) << "one enumeration per process";
}

TEST_F(PushPathTest, SourceSizesAreAnnouncedAfterHalfASecond) {
  Push(1280, 720);
  EXPECT_EQ(SourceChangedMessages(), 1) << "the first frame commits its size at once";
  Push(1290, 726);  // within 5 %: no new encoder, so only the debounce can announce it
  Push(1280, 720);
  clock.Advance(600'000'000);
  Push(1280, 720);
  EXPECT_EQ(SourceChangedMessages(), 0) << "a size seen once and gone is never announced";
  Push(1300, 732);
  clock.Advance(400'000'000);
  Push(1300, 732);
  EXPECT_EQ(SourceChangedMessages(), 0) << "not before 500 ms";
  clock.Advance(200'000'000);
  Push(1300, 732);
  Push(1300, 732);
  EXPECT_EQ(SourceChangedMessages(), 1) << "then once";
}

TEST_F(PushPathTest, AudioGoesOutAsOnePacketInChunksOf1440) {
  const net::SocketHandle audio = TakeAudioReceiver();
  ASSERT_NE(audio, net::kInvalidSocket);
  std::vector<float> left(1024, 0.5f), right(1024, -0.5f);
  float* buffers[2] = {left.data(), right.data()};
  const sdk::tmPushAudio push{0, buffers, 1024, 2};
  instance->PushAudio(&push);
  size_t datagrams = 0, bytes = 0;
  uint8_t buffer[2048];
  std::vector<uint8_t> packet;
  while (true) {
    const int n = net::ReceiveDatagram(audio, buffer, sizeof buffer, 1000);
    if (n <= 0)
      break;
    const auto header = ParseDatagramHeader(buffer, static_cast<size_t>(n));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->streamType, 2);
    EXPECT_EQ(header->flags, 0);
    EXPECT_EQ(header->fragmentTotal, 6);
    packet.insert(packet.end(), buffer + 22, buffer + 22 + header->payloadLength);
    ++datagrams;
    bytes += header->payloadLength;
    if (datagrams == 6)
      break;
  }
  net::CloseSocket(audio);
  EXPECT_EQ(datagrams, 6u);
  EXPECT_EQ(bytes, 8200u);
  ASSERT_GE(packet.size(), 16u);
  EXPECT_EQ(GetU32LE(packet.data()), 48000u);
  EXPECT_EQ(packet[4], 2);
  EXPECT_EQ(packet[5], 32);
  float first[2];
  std::memcpy(first, packet.data() + 8, 8);
  EXPECT_EQ(first[0], 0.5f) << "interleaved: frame 0 channel 0, then channel 1";
  EXPECT_EQ(first[1], -0.5f);
}

// No exception reaches the host or the transport's threads: a push whose encode throws (as an
// allocation failure would) answers the host −4, every frame still goes back to the host, the
// log has one line however many frames fail, and streaming resumes once encoding works again.
TEST_F(PushPathTest, AnEncodeThatThrowsAnswersAnErrorAndEveryFrameIsDisposed) {
  sdk::tmModule module{};
  ASSERT_EQ(TransmitEntry(sdk::tmInterfaceVersion4, 1, nullptr, &module), sdk::tmResult_Success);
  sdk::tmStdParms stdParms{};
  sdk::tmInstance record{};
  record.ioPrivateInstanceData = instance.get();
  auto& counters = HostSuites::Instance().counters();
  auto pushTwo = [&] {
    sdk::tmLabeledFrame frames[2] = {{HostSuites::Instance().NewFrame(640, 360, 2560), nullptr},
                                     {HostSuites::Instance().NewFrame(640, 360, 2560), nullptr}};
    const sdk::tmPushVideo push{-1, sdk::playmode_Playing, sdk::kPrRenderQuality_High, frames, 2};
    return module.PushVideo(&stdParms, &record, &push);
  };
  ASSERT_EQ(pushTwo(), sdk::tmResult_Success);
  world->throwOnEncode = true;
  EXPECT_EQ(pushTwo(), -4);
  EXPECT_EQ(pushTwo(), -4);
  EXPECT_EQ(counters.framesDisposed.load(), counters.framesCreated.load());
  EXPECT_EQ(LogLines(":transmit:FAULT] PushVideo: exception stopped at the entry (std::bad_alloc)"),
            1);
  instance->OnNewClient();  // replays the cached frame through the throwing encoder
  EXPECT_EQ(LogLines("OnNewClient: exception stopped at the entry (std::bad_alloc)"), 1);
  world->throwOnEncode = false;
  auto encoded = [&] {
    int frames = -1;
    test::WithEncoder(*world, 1, [&](test::FakeEncoder& e) { frames = e.Frames(); });
    return frames;
  };
  const int encodedBefore = encoded();
  EXPECT_EQ(pushTwo(), sdk::tmResult_Success);
  EXPECT_EQ(encoded(), encodedBefore + 1) << "the same encoder goes on";
}

// HEVC is the default; where it cannot be opened the stream goes on in H.264 and the phone is told
// so, instead of getting no picture while every frame logs its failures.
TEST_F(PushPathTest, WhereHevcCannotBeOpenedTheStreamGoesOnInH264) {
  world->refuseHevc = true;
  for (int i = 0; i < 10; ++i)
    Push(1280, 720);
  const auto pipeline = instance->CopyPipeline();
  EXPECT_TRUE(pipeline->IsReady());
  EXPECT_EQ(pipeline->GetCodec(), Codec::H264);
  EXPECT_EQ(world->configures.load(), 2) << "HEVC once, then H.264; no attempt per frame";
  const auto messages = Received();
  EXPECT_EQ(StreamInfos(messages, 1280, 720), 1);
  EXPECT_EQ(EncoderInfoTexts(messages), std::vector<std::string>{"fake [H.264]"});
  EXPECT_EQ(transport->GetUiStatus().codecIsH264, 1);
  EXPECT_EQ(LogLines("HEVC cannot be opened at 1280x720 @ 30 fps — streaming H.264 instead"), 1);
  EXPECT_EQ(LogLines("encoder Configure failed"), 0);
}

TEST_F(PushPathTest, AnEncoderThatCannotBeOpenedIsTriedAgainAfterGrowingPauses) {
  world->refuseHevc = true;
  world->refuseH264 = true;
  for (int i = 0; i < 10; ++i)
    Push(1280, 720);
  EXPECT_EQ(world->configures.load(), 2);
  EXPECT_EQ(LogLines("encoder Configure failed (1280x720 @ 30 fps)"), 1);
  EXPECT_EQ(instance->CopyPipeline()->GetCodec(), Codec::HEVC) << "still what the phone wants";
  clock.Advance(499'000'000);
  Push(1280, 720);
  EXPECT_EQ(world->configures.load(), 2);
  clock.Advance(1'000'000);
  Push(1280, 720);
  EXPECT_EQ(world->configures.load(), 4);
  EXPECT_EQ(LogLines("Ready() stays false, next attempt in 1000 ms"), 1);
  clock.Advance(999'000'000);
  Push(1280, 720);
  EXPECT_EQ(world->configures.load(), 4);
  Push(1920, 1080);
  EXPECT_EQ(world->configures.load(), 6) << "a new size is tried at once";
  world->refuseHevc = false;
  clock.Advance(500'000'000);
  Push(1920, 1080);
  EXPECT_TRUE(instance->CopyPipeline()->IsReady());
  EXPECT_EQ(instance->CopyPipeline()->GetCodec(), Codec::HEVC);
  EXPECT_EQ(LogLines("encoder opened after 1 failed attempts (1920x1080 @ 30 fps)"), 1);
  EXPECT_EQ(LogLines("encoder Configure failed"), 3);
}

#if defined(_WIN32)
// The same with the machine's own encoder on a PC with no HEVC transform at all (Wine has none;
// the only H.264 one is the test transform registered here).
TEST_F(PushPathTest, ThePlatformEncoderStreamsH264WithoutAnHevcTransform) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  test::TestTransformOptions options;
  options.friendlyName = L"Sorvane Test SW (push path)";
  {
    test::TestTransformRegistration registration(options);
    ASSERT_TRUE(registration.Ok()) << registration.Error();
    instance.reset();
    instance = MakeInstance(PlatformEncoderFactory());
    for (int i = 0; i < 3; ++i)
      Push(1280, 720);
    const auto pipeline = instance->CopyPipeline();
    EXPECT_TRUE(pipeline->IsReady());
    EXPECT_EQ(pipeline->GetCodec(), Codec::H264);
    const auto texts = EncoderInfoTexts(Received());
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("1280x720 H.264"), std::string::npos) << texts[0];
    EXPECT_EQ(LogLines("HEVC cannot be opened at 1280x720 @ 30 fps — streaming H.264 instead"), 1);
    EXPECT_EQ(LogLines("No encoder MFT accepted our media types (codec=HEVC"), 1)
        << "tried once, not per frame";
    instance.reset();
  }
  CoUninitialize();
}
#else
// The same with the machine's own encoder: the software HEVC encoder refuses sizes above 6 MPx.
TEST_F(PushPathTest, ThePlatformEncoderStreamsH264AboveTheSoftwareHevcCap) {
  instance.reset();
  instance = MakeInstance(PlatformEncoderFactory());
  for (int i = 0; i < 3; ++i)
    Push(3840, 2160);
  const auto pipeline = instance->CopyPipeline();
  ASSERT_TRUE(pipeline->IsReady());
  if (pipeline->GetCodec() == Codec::HEVC)
    GTEST_SKIP() << "a hardware HEVC encoder opened here: " << pipeline->Description();
  const auto texts = EncoderInfoTexts(Received());
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("3840x2160 H.264"), std::string::npos) << texts[0];
  EXPECT_EQ(LogLines("HEVC cannot be opened at 3840x2160 @ 30 fps — streaming H.264 instead"), 1);
  EXPECT_EQ(LogLines("Refusing 3840x2160 on SW HEVC"), 1) << "tried once, not per frame";
}
#endif

}  // namespace
}  // namespace Sorvane
