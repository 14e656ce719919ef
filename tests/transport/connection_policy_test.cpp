// Who gets served when other machines connect too: the paired phone keeps its stream until a
// newcomer has paired, newcomers wait one at a time and not for ever, pairing dialogs and the
// pairing secrets cannot be abused, and each connection's heartbeat keeps its own schedule.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/network_transport.h"
#include "net/wire_opcodes.h"
#include "store/app_paths.h"
#include "store/trusted_peers.h"
#include "support/plugin_log.h"
#include "transport/transport_fixture.h"

namespace Sorvane {
namespace {

using test::ClockedTransportTest;
using test::Count;
using test::Eventually;
using test::TestClient;
using test::TestLog;
using test::TransportTest;

constexpr int64_t kMs = 1'000'000;
constexpr int64_t kSecond = 1'000'000'000;

class ConnectionPolicyTest : public TransportTest {
 protected:
  // An ack and a datagram reach the paired phone, tagged so that none can be an old one.
  void ExpectServed(TestClient& phone, const char* after) {
    const uint8_t tag = ++tag_;
    EXPECT_TRUE(transport->PeerKnown()) << after;
    EXPECT_TRUE(transport->SendControl(wire::kCommandAck, &tag, 1)) << after;
    const auto ack = phone.NextOf(wire::kCommandAck);
    ASSERT_TRUE(ack) << after;
    EXPECT_EQ(ack->payload[0], tag) << after;
    EXPECT_TRUE(transport->SendVideo(&tag, 1)) << after;
    EXPECT_EQ(NextDatagram(), std::vector<uint8_t>{tag}) << after;
  }
  // Waits until the transport has accepted `n` connections in this test.
  void AwaitAccepted(size_t n) {
    ASSERT_TRUE(Eventually([&] { return Accepted() >= n; })) << n;
  }

 private:
  uint8_t tag_ = 0;
};

TEST_F(ConnectionPolicyTest, APairedPhoneKeepsItsStreamWhileStrangersComeAndGo) {
  TestClient phone(port);
  ASSERT_FALSE(PairWithCode(phone, "paired-phone").empty());
  ASSERT_TRUE(Eventually([&] { return transport->PeerKnown(); }));
  ExpectServed(phone, "pairing");

  {
    TestClient scanner(port);  // connects and closes without a byte
    ASSERT_TRUE(scanner.connected());
    AwaitAccepted(2);
  }
  ExpectServed(phone, "a connect-and-close");

  TestClient half(port);
  half.Send({wire::kClientHello, 5, 'a', 'b'});
  EXPECT_TRUE(half.AwaitHeartbeat()) << "a newcomer has its heartbeat from the start";
  ExpectServed(phone, "a half hello");

  TestClient silent(port);
  silent.Hello("stranger-silent", "S", "");
  ASSERT_TRUE(silent.NextOf(wire::kPairingCodeRequired));
  EXPECT_TRUE(half.Closed()) << "a later newcomer takes the waiting one's place";
  ExpectServed(phone, "a hello left unanswered");

  TestClient wrong(port);
  ForgetShownCode();
  wrong.Hello("stranger-wrong", "W", "");
  ASSERT_TRUE(wrong.NextOf(wire::kPairingCodeRequired));
  EXPECT_TRUE(silent.Closed());
  wrong.Code(WrongCode());
  EXPECT_TRUE(wrong.NextOf(wire::kPairingRejected));
  EXPECT_TRUE(wrong.Closed()) << "a failed newcomer is closed";
  ExpectServed(phone, "a failed code");

  EXPECT_EQ(newClients.load(), 1);
  EXPECT_EQ(TestLog().find("Replaced old client"), std::string::npos);
  EXPECT_TRUE(Eventually([&] {
    std::lock_guard<std::mutex> lock(spy.lock);
    return spy.shown == 3 && spy.destroyed == 3;
  })) << "the unanswered dialog closed with its connection";
}

TEST_F(ConnectionPolicyTest, ANewcomerTakesThePhonesPlaceOnlyOnceItHasPaired) {
  TestClient first(port);
  ASSERT_FALSE(PairWithCode(first, "phone-a").empty());
  ASSERT_TRUE(Eventually([&] { return transport->PeerKnown(); }));
  TestClient second(port);
  ForgetShownCode();
  second.Hello("phone-b", "Test Phone", "");
  ASSERT_TRUE(second.NextOf(wire::kPairingCodeRequired));
  ExpectServed(first, "a newcomer still pairing");

  second.Code(ShownCode());
  ASSERT_TRUE(second.NextOf(wire::kPairingAccepted));
  ASSERT_TRUE(second.NextOf(wire::kTransmitState)) << "served, after the new-client handling";
  EXPECT_TRUE(first.Closed()) << "the old connection is closed once the newcomer paired";
  EXPECT_TRUE(Eventually([] {
    const std::string log = TestLog();
    return log.find("Replaced old client fd=") != std::string::npos &&
           log.find("— stale (current=") != std::string::npos;
  }));
  ExpectServed(second, "the newcomer's pairing");
  EXPECT_EQ(newClients.load(), 2);
}

TEST_F(ConnectionPolicyTest, NoSecureRandomValueMeansNoPairing) {
  static std::atomic<bool> codeFails;
  codeFails = true;
  Restart([](NetworkTransport& t) {
    t.SetPairingSecrets([] { return codeFails ? std::string() : GeneratePairingCode(); },
                        [] { return std::string(); });
  });
  TestClient first(port);
  first.Hello("phone-norandom", "N", "");
  EXPECT_TRUE(first.Closed()) << "no code challenge without a random code";
  EXPECT_NE(TestLog().find("pair: no random pairing code available — refusing the challenge"),
            std::string::npos);
  {
    std::lock_guard<std::mutex> lock(spy.lock);
    EXPECT_EQ(spy.shown, 0) << "no dialog with a code anyone could guess";
  }

  codeFails = false;
  TestClient second(port);
  second.Hello("phone-notoken", "N", "");
  ASSERT_TRUE(second.NextOf(wire::kPairingCodeRequired));
  second.Code(ShownCode());
  EXPECT_TRUE(second.Closed()) << "no pairing without a random token";
  EXPECT_NE(TestLog().find("pair: no random token available"), std::string::npos);
  EXPECT_FALSE(trusted::FindById("phone-notoken"));
  EXPECT_FALSE(transport->PeerKnown());
}

TEST_F(ConnectionPolicyTest, AThrowingCommandHandlerEndsOnlyItsConnection) {
  transport->SetControlMessageHandler(
      [](uint8_t, const uint8_t*, size_t) { throw std::runtime_error("handler broke"); });
  TestClient first(port);
  ASSERT_FALSE(PairWithCode(first, "phone-throw").empty());
  ASSERT_TRUE(Eventually([&] { return transport->PeerKnown(); }));
  ASSERT_TRUE(first.Send({wire::kRequestIdr}));
  EXPECT_TRUE(Eventually([&] { return !transport->PeerKnown(); }));
  // Only the process's first exception there is logged (a repeated run sees none).
  static int runs = 0;
  EXPECT_EQ(
      Count(TestLog(), "control read thread: exception stopped in the thread (handler broke)"),
      ++runs == 1 ? 1u : 0u);
  TestClient second(port);
  ASSERT_FALSE(PairWithCode(second, "phone-after").empty()) << "the transport goes on accepting";
  EXPECT_TRUE(Eventually([&] { return transport->PeerKnown(); }));
}

TEST_F(ClockedTransportTest, ASilentConnectionIsClosedAfterTenSecondsButACodeWaitHasNoLimit) {
  TestClient silent(port);
  ASSERT_TRUE(Eventually([&] { return Accepted() == 1; }));
  steppedClock.Advance(10 * kSecond);
  EXPECT_TRUE(silent.Closed());
  EXPECT_NE(TestLog().find("pair: no complete ClientHello within 10 s"), std::string::npos);

  TestClient half(port);
  ASSERT_TRUE(Eventually([&] { return Accepted() == 2; }));
  half.Send({wire::kClientHello, 4, 'a'});
  steppedClock.Advance(10 * kSecond);
  EXPECT_TRUE(half.Closed()) << "half a hello is no hello";

  TestClient typing(port);
  typing.Hello("slow-typist", "T", "");
  ASSERT_TRUE(typing.NextOf(wire::kPairingCodeRequired));
  steppedClock.Advance(600 * kSecond);  // a person takes their time
  typing.Code(ShownCode());
  EXPECT_TRUE(typing.NextOf(wire::kPairingAccepted));
}

TEST_F(ClockedTransportTest, PairingDialogsHaveABudgetOfTheirOwn) {
  for (int i = 0; i < 5; ++i) {
    TestClient asker(port);
    asker.Hello("asker-" + std::to_string(i), "A", "");
    ASSERT_TRUE(asker.NextOf(wire::kPairingCodeRequired)) << i;
  }
  TestClient sixth(port);
  sixth.Hello("asker-5", "A", "");
  const auto reply = sixth.Next();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->opcode, wire::kPairingRejected) << "no sixth dialog at once";
  EXPECT_NE(TestLog().find("pair: too many pairing requests — no dialog for 10 s more"),
            std::string::npos);
  {
    std::lock_guard<std::mutex> lock(spy.lock);
    EXPECT_EQ(spy.shown, 5);
  }
  steppedClock.Advance(10 * kSecond);
  TestClient user(port);
  EXPECT_FALSE(PairWithCode(user, "real-user").empty())
      << "abandoned dialogs do not lock a real user out";
  EXPECT_EQ(TestLog().find("code challenges refused"), std::string::npos);
}

// The old connection's heartbeat sleeps on a clock that does not move: a transport that waited
// for it before serving the newcomer would never answer.
TEST_F(ClockedTransportTest, ATokenReconnectIsServedWithoutWaitingForTheOldConnection) {
  std::string token;
  {
    TestClient first(port);
    token = PairWithCode(first, "phone-reconnect");
    ASSERT_EQ(token.size(), 64u);
    ASSERT_TRUE(first.NextOf(wire::kTransmitState));
  }
  TestClient again(port);
  again.Hello("phone-reconnect", "Test Phone", token);
  EXPECT_TRUE(again.NextOf(wire::kPairingAccepted));
  EXPECT_TRUE(again.NextOf(wire::kTransmitState)) << "served as the paired phone";
  EXPECT_EQ(newClients.load(), 2);
}

TEST_F(ClockedTransportTest, HeartbeatsKeepAOneSecondScheduleFromTheConnection) {
  TestClient client(port);
  ASSERT_TRUE(steppedClock.WaitForSleepers(1));
  AdvanceAndSettle(999 * kMs, 1);
  client.ReadArrived();
  EXPECT_EQ(client.heartbeats, 0) << "none before the first second";
  steppedClock.Advance(1 * kMs);
  EXPECT_TRUE(client.AwaitHeartbeat());
  AdvanceAndSettle(1300 * kMs, 1);  // a late wake-up
  EXPECT_TRUE(client.AwaitHeartbeat());
  steppedClock.Advance(700 * kMs);
  EXPECT_TRUE(client.AwaitHeartbeat()) << "fixed rate: the third is due at 3 s, not at 3.3 s";
  ASSERT_TRUE(steppedClock.WaitForSleepers(1));
  client.ReadArrived();
  EXPECT_EQ(client.heartbeats, 3);

  const uint8_t ack = 0x04;
  EXPECT_FALSE(transport->SendControl(wire::kCommandAck, &ack, 1)) << "no peer is known yet";
  EXPECT_FALSE(transport->SendVideo(&ack, 1));
}

TEST_F(ClockedTransportTest, AHeartbeatEndsWithItsConnectionOrAtItsFirstFailedSend) {
  TestClient first(port);
  ASSERT_TRUE(steppedClock.WaitForSleepers(1));
  auto second = std::make_unique<TestClient>(port);
  ASSERT_TRUE(first.Closed()) << "replaced by the later newcomer";
  AdvanceAndSettle(50 * kMs, 1);
  EXPECT_TRUE(Eventually([] { return TestLog().find("after 0 ticks") != std::string::npos; }))
      << "the replaced connection's heartbeat ended";

  ASSERT_FALSE(PairWithCode(*second, "phone-vanishing").empty());
  second.reset();  // gone without a word: the next heartbeats find no one
  const auto ended = [] { return Count(TestLog(), "HeartbeatLoop: END") >= 2; };
  for (int tick = 0; tick < 5 && !ended(); ++tick) {
    steppedClock.Advance(kSecond);
    ASSERT_TRUE(Eventually([&] { return ended() || steppedClock.WaitForSleepers(1, 0); }));
  }
  EXPECT_TRUE(Eventually(ended));
  EXPECT_EQ(Count(TestLog(), "failed or timed out"), 1u) << "no send after the first failure";
}

}  // namespace
}  // namespace Sorvane
