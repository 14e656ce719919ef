#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "net/shared_transport.h"
#include "net/wire_opcodes.h"
#include "transport/shared_transport_fixture.h"

namespace Sorvane {
namespace {

using Command = std::vector<uint8_t>;  // opcode, then payload

// A registered instance that only remembers the commands it was handed.
class RecordingInstance final : public ITransportClient {
 public:
  void HandleControl(uint8_t opcode, const uint8_t* payload, size_t length) override {
    Command command{opcode};
    command.insert(command.end(), payload, payload + length);
    std::lock_guard<std::mutex> lock(lock_);
    commands_.push_back(command);
  }
  void OnNewClient() override {}
  void OnUdpFailures() override {}
  bool IsActive() const override { return false; }
  std::vector<Command> Commands() {
    std::lock_guard<std::mutex> lock(lock_);
    return commands_;
  }

 private:
  std::mutex lock_;
  std::vector<Command> commands_;
};

using test::Eventually;

class SharedTransportReplayTest : public test::SharedTransportTest {
 protected:
  SharedTransportReplayTest() {
    shared->EnsureStarted();
    port = shared->Network().ControlPort();
  }
  ~SharedTransportReplayTest() override {
    for (RecordingInstance* r : {&beforePairing, &pairedCached, &afterLeave})
      shared->Release(r);
  }

  uint16_t port = 0;
  RecordingInstance beforePairing, pairedCached, afterLeave;
};

TEST_F(SharedTransportReplayTest, CachedSettingsAreReplayedOnlyIntoInstancesJoiningWhilePaired) {
  shared->SetCachedCodec(1);
  shared->Acquire(&beforePairing);
  EXPECT_TRUE(beforePairing.Commands().empty()) << "no phone: its settings may be stale";
  {
    test::TestClient client(port);
    ASSERT_NO_FATAL_FAILURE(Pair(client, "replay-phone"));
    shared->SetCachedMaxResolution(720);
    shared->SetCachedGopMode(3);
    shared->SetCachedEncoderMode(1, 150);
    shared->Acquire(&pairedCached);
    EXPECT_EQ(pairedCached.Commands(), (std::vector<Command>{{wire::kSetCodec, 1},
                                                             {wire::kSetMaxResolution, 0xD0, 0x02},
                                                             {wire::kSetGopMode, 3},
                                                             {wire::kSetEncoderMode, 1, 100}}))
        << "in this order, the quality clamped to 100";
  }
  ASSERT_TRUE(Eventually([&] { return !shared->HasClient(); }));
  shared->Acquire(&afterLeave);
  EXPECT_TRUE(afterLeave.Commands().empty()) << "the phone has gone";
}

}  // namespace
}  // namespace Sorvane
