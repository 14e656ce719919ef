#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>

#include "net/shared_transport.h"
#include "net/wire_opcodes.h"
#include "transport/spy_dialog.h"
#include "transport/test_client.h"
#include "transport/transport_fixture.h"

namespace Sorvane::test {

// A shared transport on a port of the system's choosing whose media go to a socket of this
// test's (unread), with a spy for the pairing dialog. Fixtures that register instances release
// them in their own destructor, before the transport goes.
class SharedTransportTest : public ::testing::Test {
 protected:
  SharedTransportTest() {
    net::SocketLibraryAcquire();
    sink = net::CreateUdpReceiver(0);
    NetworkTransport::Options options;
    options.videoPort = options.audioPort = net::LocalPort(sink);
    shared = std::make_unique<SharedTransport>(0, options);
    shared->Network().SetPairingDialogFactory([this] { return std::make_unique<SpyDialog>(spy); });
  }
  ~SharedTransportTest() override {
    shared.reset();
    net::CloseSocket(sink);
    net::SocketLibraryRelease();
  }

  // Pairs `client` by code as the phone `id`; returns once the transport serves it.
  void Pair(TestClient& client, const std::string& id) {
    client.Hello(id, "Phone", "");
    ASSERT_TRUE(client.NextOf(wire::kPairingCodeRequired));
    std::string code;
    ASSERT_TRUE(Eventually([&] {
      std::lock_guard<std::mutex> lock(spy.lock);
      code = spy.code;
      return !code.empty();
    }));
    client.Code(code);
    ASSERT_TRUE(client.NextOf(wire::kPairingAccepted));
    ASSERT_TRUE(Eventually([&] { return shared->HasClient(); }));
  }

  net::SocketHandle sink = net::kInvalidSocket;
  DialogSpy spy;
  std::unique_ptr<SharedTransport> shared;
};

}  // namespace Sorvane::test
