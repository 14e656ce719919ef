#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/network_transport.h"
#include "net/wire_opcodes.h"
#include "support/plugin_log.h"
#include "transport/spy_dialog.h"
#include "transport/stepped_clock.h"
#include "transport/test_client.h"

namespace Sorvane::test {

inline bool Eventually(const std::function<bool()>& done, int ms = 3000) {
  for (int i = 0; i < ms / 10; ++i) {
    if (done())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// A started transport on a port of the system's choosing, whose video datagrams go to a receiver
// of this test's (on 127.0.0.1), with a spy for the pairing dialog.
class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net::SocketLibraryAcquire();
    video = net::CreateUdpReceiver(0);
    ASSERT_NE(video, net::kInvalidSocket);
    NetworkTransport::Options options;
    options.videoPort = net::LocalPort(video);
    options.audioPort = options.videoPort;  // audio is not looked at here
    options.clock = clock;
    Start(options);
  }
  void Start(const NetworkTransport::Options& options) {
    transport = std::make_unique<NetworkTransport>(options);
    transport->SetPairingDialogFactory([this] { return std::make_unique<SpyDialog>(spy); });
    transport->SetNewClientHandler([this] { ++newClients; });
    transport->SetUdpFailureHandler([this] { ++udpFailureCalls; });
    transport->SetActivityQuery([this] { return active.load(); });
    if (configure)
      configure(*transport);
    transport->StartListening(0);
    port = transport->ControlPort();
    ASSERT_NE(port, 0);
  }
  void TearDown() override {
    StopTransport();
    net::CloseSocket(video);
    net::SocketLibraryRelease();
  }
  // A thread asleep on the test's clock could not see the Stop: the clock lets them all go by.
  void StopTransport() {
    if (stepped != nullptr)
      stepped->Release();
    transport->Stop();
    if (stepped != nullptr)
      stepped->Hold();
  }

  std::string ShownCode() {
    Eventually([&] {
      std::lock_guard<std::mutex> lock(spy.lock);
      return !spy.code.empty();
    });
    std::lock_guard<std::mutex> lock(spy.lock);
    return spy.code;
  }
  void ForgetShownCode() {
    std::lock_guard<std::mutex> lock(spy.lock);
    spy.code.clear();
  }

  // Starts a transport of the fixture's kind again, with `change` made to it before it listens.
  void Restart(std::function<void(NetworkTransport&)> change) {
    StopTransport();
    configure = std::move(change);
    NetworkTransport::Options options;
    options.videoPort = options.audioPort = net::LocalPort(video);
    options.clock = clock;
    Start(options);
  }
  // The code shown, with its last digit changed.
  std::string WrongCode() {
    std::string code = ShownCode();
    code[5] = code[5] == '9' ? '0' : static_cast<char>(code[5] + 1);
    return code;
  }
  size_t Accepted() { return Count(TestLog(), "— awaiting ClientHello"); }

  // Pairs a fresh client with the code it is shown; returns the token.
  std::string PairWithCode(TestClient& client, const std::string& id) {
    ForgetShownCode();
    client.Hello(id, "Test Phone", "");
    EXPECT_TRUE(client.NextOf(wire::kPairingCodeRequired));
    client.Code(ShownCode());
    auto accepted = client.NextOf(wire::kPairingAccepted);
    EXPECT_TRUE(accepted);
    if (!accepted)
      return {};
    return std::string(accepted->payload.begin() + 1, accepted->payload.end());
  }

  // The next video datagram's bytes (empty when none came).
  std::vector<uint8_t> NextDatagram(int timeoutMs = 2000) {
    uint8_t buffer[2048];
    const int n = net::ReceiveDatagram(video, buffer, sizeof buffer, timeoutMs);
    return std::vector<uint8_t>(buffer, buffer + std::max(n, 0));
  }

  SteppedClock* stepped = nullptr;  // set by a clocked fixture before SetUp
  const Clock* clock = nullptr;
  uint16_t port = 0;
  net::SocketHandle video = net::kInvalidSocket;
  std::unique_ptr<NetworkTransport> transport;
  std::function<void(NetworkTransport&)> configure;  // run by Start before listening
  DialogSpy spy;
  std::atomic<int> newClients{0};
  std::atomic<int> udpFailureCalls{0};
  std::atomic<bool> active{true};  // what the instances' activity query answers
};

// The same on a clock that only the test moves.
class ClockedTransportTest : public TransportTest {
 protected:
  ClockedTransportTest() {
    stepped = &steppedClock;
    clock = &steppedClock;
  }
  // Moves the clock on, then waits until the connections' heartbeat threads are asleep again.
  void AdvanceAndSettle(int64_t ns, size_t sleepers) {
    steppedClock.Advance(ns);
    ASSERT_TRUE(steppedClock.WaitForSleepers(sleepers));
  }
  SteppedClock steppedClock;
};

}  // namespace Sorvane::test
