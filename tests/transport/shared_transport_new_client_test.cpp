// What a phone gets when it pairs, beyond each instance's own greeting: the host's play state,
// and one redraw nudge that runs with no registry lock held.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "bridge/key_injector.h"
#include "net/shared_transport.h"
#include "net/wire_opcodes.h"
#include "transport/shared_transport_fixture.h"

namespace Sorvane {
namespace {

class QuietInstance final : public ITransportClient {
 public:
  void HandleControl(uint8_t, const uint8_t*, size_t) override {}
  void OnNewClient() override {}
  void OnUdpFailures() override {}
  bool IsActive() const override { return false; }
};

// The keyboard nudge is where this process's new-client nudge ends up (there is no control
// surface here). While it runs, another thread registers an instance, as a host thread would:
// that must not wait for the nudge.
class RegistrationProbe final : public KeyInjector {
 public:
  explicit RegistrationProbe(SharedTransport& shared) : shared_(shared) {}
  ~RegistrationProbe() override {
    if (host_.joinable())
      host_.join();  // it gets the lock once the nudge is over, whatever the outcome
  }
  void Inject(const std::vector<KeyEvent>&) override {
    if (probed_.exchange(true))
      return;
    std::promise<void> registered;
    auto registeredNow = registered.get_future();
    host_ = std::thread([this, registered = std::move(registered)]() mutable {
      shared_.Acquire(&late_);
      shared_.Release(&late_);
      registered.set_value();
    });
    registeredDuringNudge_ =
        registeredNow.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    done_.set_value();
  }
  bool ReachesTheHost() const override { return false; }
  // Waits for the nudge; false when none came.
  bool WaitForNudge() {
    return done_.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  }
  bool registeredDuringNudge() const { return registeredDuringNudge_.load(); }

 private:
  SharedTransport& shared_;
  QuietInstance late_;
  std::atomic<bool> probed_{false};
  std::atomic<bool> registeredDuringNudge_{false};
  std::promise<void> done_;
  std::thread host_;
};

class SharedTransportNewClientTest : public test::SharedTransportTest {
 protected:
  SharedTransportNewClientTest() {
    shared->Acquire(&instance);
    port = shared->Network().ControlPort();
  }
  ~SharedTransportNewClientTest() override {
    shared->Release(&instance);
    shared.reset();  // its threads end before the probe they may call into
    SetKeyInjector(nullptr);
  }

  uint16_t port = 0;
  QuietInstance instance;
  std::unique_ptr<RegistrationProbe> probe;
};

TEST_F(SharedTransportNewClientTest, APhoneLearnsThePlayStateItPairsInto) {
  // The host was already playing when nobody was there to tell.
  EXPECT_FALSE(shared->PublishPlaybackState(true));
  test::TestClient client(port);
  ASSERT_TRUE(client.connected());
  Pair(client, "new-client-phone");
  const auto state = client.NextOf(wire::kPlaybackState);
  ASSERT_TRUE(state) << "no kPlaybackState after pairing";
  ASSERT_EQ(state->payload.size(), 1u);
  EXPECT_EQ(state->payload[0], 1);
}

TEST_F(SharedTransportNewClientTest, TheNudgeRunsWithoutTheRegistryLock) {
  probe = std::make_unique<RegistrationProbe>(*shared);
  SetKeyInjector(probe.get());
  test::TestClient client(port);
  ASSERT_TRUE(client.connected());
  Pair(client, "new-client-phone");
  ASSERT_TRUE(probe->WaitForNudge());
  EXPECT_TRUE(probe->registeredDuringNudge())
      << "an instance could not register while the new client's nudge ran";
}

}  // namespace
}  // namespace Sorvane
