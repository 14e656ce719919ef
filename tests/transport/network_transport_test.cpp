#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "diag/log.h"
#include "net/network_transport.h"
#include "net/wire_opcodes.h"
#include "store/trusted_peers.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"
#include "transport/loopback_alias.h"
#include "transport/transport_fixture.h"

namespace Sorvane {
namespace {

using namespace std::chrono_literals;
using test::ClockedTransportTest;
using test::Eventually;
using test::TestClient;
using test::TestLog;
using test::TransportTest;

TEST_F(TransportTest, CodePairingThenTrustedReconnectWithoutADialog) {
  std::string token;
  {
    TestClient client(port);
    ASSERT_TRUE(client.connected());
    token = PairWithCode(client, "phone-1");
    ASSERT_EQ(token.size(), 64u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    auto state = client.NextOf(wire::kTransmitState);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->payload[0], 1);
    EXPECT_TRUE(transport->PeerKnown());
    EXPECT_EQ(transport->PeerAddress(), "127.0.0.1");
    EXPECT_EQ(newClients.load(), 1);
    EXPECT_EQ(spy.name, "Test Phone");
  }
  const auto stored = trusted::FindById("phone-1");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->token, token);

  const int shownBefore = spy.shown;
  TestClient again(port);
  again.Hello("phone-1", "Test Phone", token);
  auto accepted = again.NextOf(wire::kPairingAccepted);
  ASSERT_TRUE(accepted);
  EXPECT_EQ(std::string(accepted->payload.begin() + 1, accepted->payload.end()), token);
  EXPECT_EQ(spy.shown, shownBefore) << "a trusted phone sees no dialog";
  EXPECT_NE(TestLog().find("pair: trusted reconnect id=phone-1"), std::string::npos);
}

TEST_F(TransportTest, UnknownTokensAreChallengedAndWrongCodesRejected) {
  TestClient client(port);
  client.Hello("stranger", "", std::string(64, 'a'));
  EXPECT_TRUE(client.NextOf(wire::kPairingCodeRequired))
      << "a token for an unknown id counts for nothing";
  std::string code = ShownCode();
  code[5] = code[5] == '9' ? '0' : static_cast<char>(code[5] + 1);
  client.Code(code);
  EXPECT_TRUE(client.NextOf(wire::kPairingRejected));
  EXPECT_FALSE(transport->PeerKnown());
  EXPECT_FALSE(trusted::FindById("stranger"));
  EXPECT_EQ(spy.name, "") << "the dialog shows the name as sent (empty: the dialog says iPhone)";
}

TEST_F(TransportTest, MalformedHellosAreDroppedSilently) {
  {
    TestClient client(port);
    client.Hello(std::string(64, 'i'), "n", "");
    EXPECT_TRUE(client.NextOf(wire::kPairingCodeRequired)) << "64 bytes is the longest id";
  }
  TestClient client(port);
  client.Hello(std::string(65, 'i'), "n", "");
  EXPECT_FALSE(client.Next(1500)) << "65 bytes is malformed: nothing but heartbeats";
  EXPECT_TRUE(Eventually(
      [] { return TestLog().find("pair: malformed ClientHello") != std::string::npos; }));
}

TEST_F(TransportTest, GuessingTheCodeIsThrottled) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    TestClient client(port);
    client.Hello("guesser", "g", "");
    ASSERT_TRUE(client.NextOf(wire::kPairingCodeRequired)) << attempt;
    client.Code(ShownCode() == "000000" ? "000001" : "000000");
    ASSERT_TRUE(client.NextOf(wire::kPairingRejected)) << attempt;
    std::lock_guard<std::mutex> lock(spy.lock);
    spy.code.clear();
  }
  TestClient locked(port);
  locked.Hello("guesser", "g", "");
  auto reply = locked.Next();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->opcode, wire::kPairingRejected) << "no code challenge while locked out";
  const std::string log = TestLog();
  const size_t refusal = log.find("pair: code challenges refused for ");
  ASSERT_NE(refusal, std::string::npos);
  EXPECT_NE(log.find("s more after 5 wrong codes — rejecting id=guesser", refusal),
            std::string::npos);
}

TEST_F(TransportTest, CancelAndStopEndACodeWaitPromptly) {
  TestClient client(port);
  client.Hello("waiting", "w", "");
  ASSERT_TRUE(client.NextOf(wire::kPairingCodeRequired));
  std::function<void()> cancel;
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard<std::mutex> lock(spy.lock);
    cancel = spy.onCancel;
    return static_cast<bool>(cancel);
  }));
  cancel();
  EXPECT_TRUE(Eventually([] {
    return TestLog().find("pair: disconnected while awaiting code") != std::string::npos;
  }));

  TestClient waiting(port);
  waiting.Hello("waiting-2", "w", "");
  ASSERT_TRUE(waiting.NextOf(wire::kPairingCodeRequired));
  const auto started = std::chrono::steady_clock::now();
  transport->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  EXPECT_FALSE(transport->PeerKnown());
}

// Holds the handshake inside Show until the test lets it go.
class GatedDialog final : public IPairingDialog {
 public:
  explicit GatedDialog(std::atomic<bool>& open, std::atomic<bool>& shown)
      : open_(open), shown_(shown) {}
  void Show(std::string, std::string, std::function<void()>) override {
    shown_ = true;
    while (!open_)
      std::this_thread::sleep_for(1ms);
  }
  void Close() override {}

 private:
  std::atomic<bool>& open_;
  std::atomic<bool>& shown_;
};

using test::Count;

TEST_F(TransportTest, PairingRepliesNeverReachTheConnectionThatReplacedTheHandshake) {
  std::atomic<bool> open{false}, shown{false};
  transport->SetPairingDialogFactory([&] { return std::make_unique<GatedDialog>(open, shown); });
  const size_t before = Count(TestLog(), "awaiting ClientHello");
  TestClient first(port);
  first.Hello("phone-first", "First", "");
  // Generous limits: under Wine on a loaded machine a connection can take seconds to be served.
  ASSERT_TRUE(Eventually([&] { return shown.load(); }, 10000));
  TestClient second(port);
  ASSERT_TRUE(
      Eventually([&] { return Count(TestLog(), "awaiting ClientHello") == before + 2; }, 10000));
  open = true;  // the first handshake now answers
  EXPECT_FALSE(second.Next(1500)) << "the first phone's pairing reply went to the newcomer";
  EXPECT_TRUE(Eventually(
      [] { return TestLog().find("pair: reply opcode=0x31 not sent — fd=") != std::string::npos; },
      10000));
}

// A paired phone that floods commands and never reads fills the connection; every sender is
// released within the send time limit and the phone is dropped.
TEST_F(TransportTest, APhoneThatStopsReadingIsDroppedInsteadOfBlockingSenders) {
  const std::vector<uint8_t> bulk(64 * 1024, 0x5a);
  transport->SetControlMessageHandler([&](uint8_t, const uint8_t*, size_t) {
    transport->SendControl(wire::kEncoderInfo, bulk.data(), bulk.size());
  });
  TestClient client(port);
  ASSERT_FALSE(PairWithCode(client, "phone-stalled").empty());
  ASSERT_TRUE(Eventually([&] { return transport->PeerKnown(); }));
  std::atomic<bool> flooding{true};
  // Single-byte requests, so a send cut short by its time limit leaves no torn message; the
  // limit lets the flood end even where a dropped peer's socket does not fail the send at once.
  client.LimitSendTime(200);
  std::thread flood([&] {
    const std::vector<uint8_t> requests(64, wire::kRequestIdr);
    while (flooding) {
      if (!client.Send(requests))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  // Another thread's message (a stream description from the render thread) must come back.
  std::atomic<bool> returned{false};
  std::thread render([&] {
    while (transport->PeerKnown())
      transport->SendControl(wire::kStreamInfo, bulk.data(), 16);
    returned = true;
  });
  const bool dropped = Eventually([&] { return !transport->PeerKnown(); }, 30000);
  flooding = false;
  EXPECT_TRUE(dropped) << "a phone that never reads stays paired and holds the senders";
  EXPECT_TRUE(Eventually([&] { return returned.load(); }, 10000));
  EXPECT_TRUE(Eventually([] {
    return TestLog().find("failed or timed out") != std::string::npos &&
           TestLog().find("— dropping client") != std::string::npos;
  }));
  transport->Stop();  // releases any blocked thread, and no handler runs after `bulk` is gone
  render.join();
  flood.join();
}

// Port 0 is refused by the system, so every video datagram fails while audio goes through. The
// clock stands still, so all the failures fall into one second of logging.
TEST_F(ClockedTransportTest, FiveFailedDatagramsAskForOneKeyframeAndErrorsAreLoggedOnceASecond) {
  StopTransport();
  NetworkTransport::Options options;
  options.videoPort = 0;
  options.audioPort = net::LocalPort(video);
  options.clock = clock;
  Start(options);
  TestClient client(port);
  ASSERT_FALSE(PairWithCode(client, "phone-udp").empty());
  ASSERT_TRUE(Eventually([&] { return transport->PeerKnown(); }));
  const uint8_t byte = 0;
  for (int i = 0; i < 6; ++i)
    EXPECT_FALSE(transport->SendVideo(&byte, 1));
  EXPECT_EQ(udpFailureCalls.load(), 1) << "the fifth failure asks once, the sixth does not";
  EXPECT_TRUE(transport->SendAudio(&byte, 1));
  for (int i = 0; i < 5; ++i)
    transport->SendVideo(&byte, 1);
  EXPECT_EQ(udpFailureCalls.load(), 2) << "a success re-arms the request";
  EXPECT_EQ(test::Count(TestLog(), "UDP: 5 consecutive send failures — requesting IDR"), 2u);
  EXPECT_EQ(test::Count(TestLog(), "sendto port=0 failed:"), 1u) << "not one line per datagram";
  steppedClock.Advance(1'000'000'000);
  transport->SendVideo(&byte, 1);
  EXPECT_EQ(test::Count(TestLog(), "sendto port=0 failed:"), 2u);
  EXPECT_NE(TestLog().find("(10 more failures since)"), std::string::npos);
}

TEST_F(TransportTest, DatagramsReachThePairedPhonesOwnAddressOnTheVideoAndAudioPorts) {
  const net::SocketHandle phoneVideo = test::CreateUdpReceiverOn(test::kLoopbackAlias, 0);
  const net::SocketHandle phoneAudio = test::CreateUdpReceiverOn(test::kLoopbackAlias, 0);
  if (phoneVideo == net::kInvalidSocket || phoneAudio == net::kInvalidSocket) {
    net::CloseSocket(phoneVideo);
    net::CloseSocket(phoneAudio);
    GTEST_SKIP() << "this machine cannot bind " << test::kLoopbackAlias;
  }
  StopTransport();
  NetworkTransport::Options options;
  options.videoPort = net::LocalPort(phoneVideo);
  options.audioPort = net::LocalPort(phoneAudio);
  Start(options);
  TestClient client(TestClient::Connected{test::ConnectTcpFrom(test::kLoopbackAlias, port)});
  ASSERT_TRUE(client.connected());
  ASSERT_FALSE(PairWithCode(client, "phone-udp-ok").empty());
  ASSERT_TRUE(Eventually([&] { return transport->PeerKnown(); }));
  EXPECT_EQ(transport->PeerAddress(), test::kLoopbackAlias);

  const std::vector<uint8_t> frame = {0x11, 0x22, 0x33, 0x44, 0x55};
  const std::vector<uint8_t> sound = {0xA1, 0xA2, 0xA3};
  EXPECT_TRUE(transport->SendVideo(frame.data(), frame.size()));
  EXPECT_TRUE(transport->SendAudio(sound.data(), sound.size()));
  uint8_t buffer[64];
  const int videoBytes = net::ReceiveDatagram(phoneVideo, buffer, sizeof buffer, 2000);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + std::max(videoBytes, 0)), frame);
  const int audioBytes = net::ReceiveDatagram(phoneAudio, buffer, sizeof buffer, 2000);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + std::max(audioBytes, 0)), sound);
  EXPECT_EQ(net::ReceiveDatagram(phoneVideo, buffer, sizeof buffer, 200), 0) << "one datagram each";
  EXPECT_EQ(net::ReceiveDatagram(phoneAudio, buffer, sizeof buffer, 200), 0);
  net::CloseSocket(phoneVideo);
  net::CloseSocket(phoneAudio);
}

// After the read loop ends the connection stays open (its heartbeat goes on) but is no longer
// trusted: nothing the phone sends after the bad message is acted on.
TEST_F(TransportTest, AnUnknownOpcodeEndsTheReadLoopOfAPairedPhone) {
  std::vector<uint8_t> handled;
  std::mutex handledLock;
  transport->SetControlMessageHandler([&](uint8_t opcode, const uint8_t*, size_t) {
    std::lock_guard<std::mutex> lock(handledLock);
    handled.push_back(opcode);
  });
  TestClient client(port);
  ASSERT_FALSE(PairWithCode(client, "phone-unknown").empty());
  ASSERT_TRUE(Eventually([&] { return transport->PeerKnown(); }));
  ASSERT_TRUE(client.Send({wire::kSetCodec, 1, 0x7E, wire::kSetCodec, 0}));
  EXPECT_TRUE(Eventually([&] { return !transport->PeerKnown(); }));
  // Once the loop has logged its exit, nothing more can reach the handler.
  EXPECT_TRUE(Eventually([] {
    const std::string log = TestLog();
    const size_t unknown = log.find("control: unknown opcode 0x7e — dropping client");
    return unknown != std::string::npos &&
           log.find("control read loop exit fd=", unknown) != std::string::npos;
  }));
  std::lock_guard<std::mutex> lock(handledLock);
  EXPECT_EQ(handled, (std::vector<uint8_t>{wire::kSetCodec})) << "only the message before it";
}

TEST_F(TransportTest, AMessageCutShortEndsTheReadLoopWithoutReachingTheHandler) {
  std::atomic<int> handled{0};
  transport->SetControlMessageHandler([&](uint8_t, const uint8_t*, size_t) { ++handled; });
  // Only the sending side ends, so no failed heartbeat can drop the phone before the read loop
  // meets the end of the stream inside the message.
  TestClient client(port);
  ASSERT_FALSE(PairWithCode(client, "phone-cut").empty());
  ASSERT_TRUE(Eventually([&] { return transport->PeerKnown(); }));
  ASSERT_TRUE(client.Send({wire::kSetMaxResolution, 0x38}));  // one of its two bytes
  client.FinishSending();
  EXPECT_TRUE(Eventually([&] { return !transport->PeerKnown(); }));
  EXPECT_TRUE(Eventually(
      [] { return TestLog().find("control: truncated SetMaxResolution") != std::string::npos; }));
  EXPECT_EQ(handled.load(), 0);
}

TEST_F(TransportTest, AForgottenPhoneMustPairAgainAndGetsANewToken) {
  std::string first;
  {
    TestClient client(port);
    first = PairWithCode(client, "phone-forgotten");
    ASSERT_EQ(first.size(), 64u);
  }
  trusted::Remove("phone-forgotten");
  {
    std::lock_guard<std::mutex> lock(spy.lock);
    spy.code.clear();
  }
  TestClient again(port);
  again.Hello("phone-forgotten", "Test Phone", first);
  ASSERT_TRUE(again.NextOf(wire::kPairingCodeRequired)) << "the old token counts for nothing";
  again.Code(ShownCode());
  const auto accepted = again.NextOf(wire::kPairingAccepted);
  ASSERT_TRUE(accepted);
  const std::string second(accepted->payload.begin() + 1, accepted->payload.end());
  EXPECT_EQ(second.size(), 64u);
  EXPECT_NE(second, first);
  const auto stored = trusted::FindById("phone-forgotten");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->token, second);
}

TEST_F(TransportTest, ThePairedPhoneHearsEachTransmitStateEdge) {
  TestClient client(port);
  ASSERT_FALSE(PairWithCode(client, "phone-state").empty());
  auto state = client.NextOf(wire::kTransmitState);
  ASSERT_TRUE(state);
  EXPECT_EQ(state->payload[0], 1) << "the state at pairing";
  active = false;
  state = client.NextOf(wire::kTransmitState, 8000);
  ASSERT_TRUE(state) << "inactivity is reported after three polls";
  EXPECT_EQ(state->payload[0], 0);
  EXPECT_FALSE(transport->TransmitActive());
  active = true;
  state = client.NextOf(wire::kTransmitState, 3000);
  ASSERT_TRUE(state);
  EXPECT_EQ(state->payload[0], 1);
  EXPECT_TRUE(transport->TransmitActive());
}

}  // namespace
}  // namespace Sorvane
