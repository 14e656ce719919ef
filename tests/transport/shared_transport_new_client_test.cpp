// What a phone gets when it pairs, beyond each instance's own greeting: the host's play state,
// and one redraw nudge that runs with no registry lock held.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "bridge/key_injector.h"
#include "net/shared_transport.h"
#include "net/wire_opcodes.h"
#include "transport/spy_dialog.h"
#include "transport/test_client.h"

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

class SharedTransportNewClientTest : public ::testing::Test {
 protected:
  SharedTransportNewClientTest() {
    net::SocketLibraryAcquire();
    sink = net::CreateUdpReceiver(0);  // the media go to a port of this test's, unread
    NetworkTransport::Options options;
    options.videoPort = options.audioPort = net::LocalPort(sink);
    shared = std::make_unique<SharedTransport>(0, options);
    shared->Network().SetPairingDialogFactory(
        [this] { return std::make_unique<test::SpyDialog>(spy); });
    shared->Acquire(&instance);
    port = shared->Network().ControlPort();
  }
  ~SharedTransportNewClientTest() override {
    shared->Release(&instance);
    SetKeyInjector(nullptr);
    net::CloseSocket(sink);
    net::SocketLibraryRelease();
  }

  void Pair(test::TestClient& client) {
    client.Hello("new-client-phone", "Phone", "");
    ASSERT_TRUE(client.NextOf(wire::kPairingCodeRequired));
    std::string code;
    for (int i = 0; i < 300 && code.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::lock_guard<std::mutex> lock(spy.lock);
      code = spy.code;
    }
    ASSERT_FALSE(code.empty());
    client.Code(code);
    ASSERT_TRUE(client.NextOf(wire::kPairingAccepted));
  }

  net::SocketHandle sink = net::kInvalidSocket;
  uint16_t port = 0;
  test::DialogSpy spy;
  QuietInstance instance;
  std::unique_ptr<RegistrationProbe> probe;  // outlives the transport's threads
  std::unique_ptr<SharedTransport> shared;
};

TEST_F(SharedTransportNewClientTest, APhoneLearnsThePlayStateItPairsInto) {
  // The host was already playing when nobody was there to tell.
  EXPECT_FALSE(shared->PublishPlaybackState(true));
  test::TestClient client(port);
  ASSERT_TRUE(client.connected());
  Pair(client);
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
  Pair(client);
  ASSERT_TRUE(probe->WaitForNudge());
  EXPECT_TRUE(probe->registeredDuringNudge())
      << "an instance could not register while the new client's nudge ran";
}

}  // namespace
}  // namespace Sorvane
