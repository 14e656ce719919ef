#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/transmit_instance.h"
#include "net/shared_transport.h"
#include "pipeline/fake_encoder.h"
#include "support/manual_clock.h"
#include "support/plugin_log.h"
#include "sv-host/host_suites.h"
#include "transport/spy_dialog.h"
#include "transport/stepped_clock.h"
#include "transport/test_client.h"

namespace Sorvane::test {

// A started transmit instance with a fake encoder, on a shared transport of its own (loopback,
// ports of the system's choosing), with a test client paired by code. The phone's media ports
// are bound before anything is sent; a test takes the receivers it looks at.
class PairedInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net::SocketLibraryAcquire();
    videoReceiver = net::CreateUdpReceiver(0);
    audioReceiver = net::CreateUdpReceiver(0);
    ASSERT_NE(videoReceiver, net::kInvalidSocket);
    ASSERT_NE(audioReceiver, net::kInvalidSocket);
    NetworkTransport::Options options;
    options.videoPort = net::LocalPort(videoReceiver);
    options.audioPort = net::LocalPort(audioReceiver);
    options.clock = &transportClock;
    ConfigureTransport(options);
    transport = std::make_unique<SharedTransport>(0, options);
    transport->Network().SetPairingDialogFactory(
        [this] { return std::make_unique<SpyDialog>(spy); });
    world = std::make_shared<FakeEncoderWorld>();
    instance = MakeInstance();
    port = transport->Network().ControlPort();
    ASSERT_NE(port, 0);
    client = PairPhone("test-phone", "Phone");
    ASSERT_FALSE(HasFailure()) << "the phone did not pair";
    // The transmit state follows the new-client handling, which resets what was announced.
    ASSERT_TRUE(client->NextOf(wire::kTransmitState));
  }
  // A phone that pairs by the code the dialog shows (replacing any paired one); returns once it
  // was accepted, with a failure recorded when it was not.
  std::unique_ptr<TestClient> PairPhone(const std::string& id, const std::string& name) {
    {
      std::lock_guard<std::mutex> lock(spy.lock);
      spy.code.clear();
    }
    auto phone = std::make_unique<TestClient>(port);
    phone->Hello(id, name, "");
    EXPECT_TRUE(phone->NextOf(wire::kPairingCodeRequired));
    std::string code;
    for (int i = 0; i < 300 && code.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::lock_guard<std::mutex> lock(spy.lock);
      code = spy.code;
    }
    phone->Code(code);
    EXPECT_TRUE(phone->NextOf(wire::kPairingAccepted));
    return phone;
  }
  void TearDown() override {
    client.reset();
    instance.reset();
    transportClock.Release();  // heartbeats asleep on it must see the transport stop
    transport.reset();
    net::CloseSocket(videoReceiver);
    net::CloseSocket(audioReceiver);
    net::SocketLibraryRelease();
  }
  // A fixture may change the transport's options before it is made.
  virtual void ConfigureTransport(NetworkTransport::Options&) {}
  // The receivers of what is sent to the phone's video and audio ports; the test closes them.
  net::SocketHandle TakeVideoReceiver() {
    return std::exchange(videoReceiver, net::kInvalidSocket);
  }
  net::SocketHandle TakeAudioReceiver() {
    return std::exchange(audioReceiver, net::kInvalidSocket);
  }
  // An instance on this test's transport and clock; fake encoders unless `factory` is given.
  std::unique_ptr<TransmitInstance> MakeInstance(EncoderFactoryFn factory = nullptr) {
    if (!factory) {
      factory = [this](const std::string& engine) -> std::shared_ptr<IHardwareEncoder> {
        std::lock_guard<std::mutex> lock(factoryLock);
        engineRequests.push_back(engine);
        if (refusedEngines.count(engine) != 0)
          return nullptr;
        return std::make_shared<FakeEncoder>(world);
      };
    }
    auto made = std::make_unique<TransmitInstance>(hostsim::HostSuites::Instance().Basic(), factory,
                                                   transport.get(), &clock);
    made->Start();
    return made;
  }
  std::vector<std::string> EngineRequests() {
    std::lock_guard<std::mutex> lock(factoryLock);
    return engineRequests;
  }
  void RefuseEngine(const std::string& engine) {
    std::lock_guard<std::mutex> lock(factoryLock);
    refusedEngines.insert(engine);
  }

  uint16_t port = 0;
  DialogSpy spy;
  ManualClock clock;            // the instance's
  SteppedClock transportClock;  // the transport's: heartbeats only when a test moves it
  net::SocketHandle videoReceiver = net::kInvalidSocket;
  net::SocketHandle audioReceiver = net::kInvalidSocket;
  std::unique_ptr<SharedTransport> transport;
  std::shared_ptr<FakeEncoderWorld> world;
  std::unique_ptr<TransmitInstance> instance;
  std::unique_ptr<TestClient> client;
  // What the instances' encoder factory was asked for, and the engine ids it cannot make.
  std::mutex factoryLock;
  std::vector<std::string> engineRequests;
  std::set<std::string> refusedEngines;
};

}  // namespace Sorvane::test
