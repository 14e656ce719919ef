#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "diag/log.h"
#include "net/network_transport.h"
#include "store/install_identity.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"
#include "transport/test_client.h"

namespace Sorvane {
namespace {

using test::TestLog;

NetworkTransport::Options TestPorts() {
  NetworkTransport::Options options;
  options.videoPort = 47691;
  options.audioPort = 47692;
  return options;
}

// Here no real advertisement can succeed: Wine's dnsapi.dll has no DNS-SD service functions, so
// the factory makes no advertiser; Linux has no system bus here, so Avahi's Start fails and the
// advertiser keeps retrying. Either way the transport says so once and serves clients.
TEST(TransportAdvertising, AFailedAdvertisementLeavesTheTransportServing) {
#ifdef _WIN32
  const char* failure = "ServiceAdvertiser factory returned null — mDNS skipped";
#else
  const char* failure = "ServiceAdvertiser::Start failed — retrying in the background";
#endif
  for (const bool discoverable : {true, false}) {
    installid::SetDiscoverable(discoverable);
    const size_t before = TestLog().size();
    NetworkTransport transport(TestPorts());
    transport.SetActivityQuery([] { return false; });
    transport.StartListening(47690);
    test::TestClient client(47690);
    EXPECT_TRUE(client.connected());
    // The advertisement is tried on a thread of its own; its verdict comes when it comes.
    for (int i = 0; discoverable && i < 200 && test::Count(TestLog().substr(before), failure) == 0;
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    transport.Stop();
    const std::string added = TestLog().substr(before);
    EXPECT_EQ(test::Count(added, failure), discoverable ? 1u : 0u) << added;
    EXPECT_EQ(added.find("discoverable=false — skipping mDNS advertisement") != std::string::npos,
              !discoverable);
    EXPECT_EQ(added.find("advertising stopped"), std::string::npos);
  }
}

// An advertiser whose Start waits until the test lets it go, as a registration waiting on the
// system does, and that records what the transport tells it.
struct AdvertiserProbe {
  std::mutex lock;
  std::condition_variable changed;
  bool inStart = false;
  bool letStartReturn = false;
  bool startReturned = false;
  bool startSucceeds = true;
  AdvertisementRecord record;
  std::vector<bool> transmits;
  bool stopped = false;

  template <typename Predicate>
  bool WaitFor(Predicate done) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(10), done);
  }
};

class ProbeAdvertiser final : public IServiceAdvertiser {
 public:
  explicit ProbeAdvertiser(AdvertiserProbe& probe) : probe_(probe) {}
  bool Start(uint16_t, const AdvertisementRecord& record) override {
    std::unique_lock<std::mutex> guard(probe_.lock);
    probe_.inStart = true;
    probe_.record = record;
    probe_.changed.notify_all();
    probe_.changed.wait_for(guard, std::chrono::seconds(5),
                            [this] { return probe_.letStartReturn; });
    probe_.startReturned = true;
    return probe_.startSucceeds;
  }
  void Stop() override {
    Note([this] { probe_.stopped = true; });
  }
  bool IsRegistered() const override { return false; }
  void SetTransmit(bool transmit) override {
    Note([this, transmit] { probe_.transmits.push_back(transmit); });
  }

 private:
  template <typename Change>
  void Note(Change change) {
    std::lock_guard<std::mutex> guard(probe_.lock);
    change();
    probe_.changed.notify_all();
  }
  AdvertiserProbe& probe_;
};

// Registering may take seconds: StartListening (the host's create call) must not wait for it. A
// Start that fails keeps the advertiser, which retries on its own; the advertised "transmit" value
// follows the transmit state the client is told.
TEST(TransportAdvertising, RegistersOffTheCallersThreadAndKeepsTheAdvertiserUpdated) {
  for (const bool startSucceeds : {true, false}) {
    SCOPED_TRACE(startSucceeds ? "Start succeeds" : "Start fails");
    installid::SetDiscoverable(true);
    AdvertiserProbe probe;
    probe.startSucceeds = startSucceeds;
    std::atomic<bool> active{false};
    NetworkTransport transport(TestPorts());
    transport.SetActivityQuery([&active] { return active.load(); });
    transport.SetAdvertiserFactory([&probe] { return std::make_unique<ProbeAdvertiser>(probe); });
    transport.StartListening(47690);
    ASSERT_TRUE(probe.WaitFor([&probe] { return probe.inStart; }));
    {
      std::lock_guard<std::mutex> guard(probe.lock);
      EXPECT_FALSE(probe.startReturned) << "StartListening waited for the registration";
      EXPECT_FALSE(probe.record.transmit);
    }
    test::TestClient client(47690);
    EXPECT_TRUE(client.connected()) << "the transport serves while the advertiser registers";
    {
      std::lock_guard<std::mutex> guard(probe.lock);
      probe.letStartReturn = true;
      probe.changed.notify_all();
    }
    active.store(true);
    ASSERT_TRUE(probe.WaitFor([&probe] {
      return !probe.transmits.empty() && probe.transmits.back();
    })) << "the debounced transmit state reaches the advertisement";
    transport.Stop();
    EXPECT_TRUE(probe.stopped);
  }
}

}  // namespace
}  // namespace Sorvane
