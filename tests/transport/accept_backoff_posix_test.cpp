// Accepting when the process is out of descriptors: the listener stays readable while every
// accept fails, and the accept thread must wait longer each time instead of spinning.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/network_transport.h"
#include "support/plugin_log.h"
#include "transport/transport_fixture.h"

namespace Sorvane {
namespace {

using test::ClockedTransportTest;
using test::TestClient;

constexpr int64_t kMs = 1'000'000;

// Lowers the descriptor limit to the lowest free descriptor, so no new one can be made; gives the
// old limit back when it goes.
class OutOfDescriptors {
 public:
  OutOfDescriptors() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    const int lowestFree = dup(0);
    close(lowestFree);
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
    active_ = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~OutOfDescriptors() { Restore(); }
  void Restore() {
    if (active_)
      setrlimit(RLIMIT_NOFILE, &saved_);
    active_ = false;
  }
  bool active() const { return active_; }

 private:
  rlimit saved_{};
  bool active_ = false;
};

TEST_F(ClockedTransportTest, AcceptFailuresBackOffAndAcceptingResumes) {
  // The client's socket is made first; then no descriptor is left for the transport's accept.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  OutOfDescriptors limit;
  ASSERT_TRUE(limit.active());
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  TestClient client(TestClient::Connected{fd});

  ASSERT_TRUE(steppedClock.WaitForSleepers(1)) << "the accept thread waits after a failure";
  EXPECT_EQ(transport->AcceptFailures(), 1u);
  AdvanceAndSettle(10 * kMs, 1);
  EXPECT_EQ(transport->AcceptFailures(), 2u);
  AdvanceAndSettle(10 * kMs, 1);
  EXPECT_EQ(transport->AcceptFailures(), 2u) << "the second wait is twice as long";
  AdvanceAndSettle(10 * kMs, 1);
  EXPECT_EQ(transport->AcceptFailures(), 3u);

  limit.Restore();
  steppedClock.Advance(40 * kMs);
  client.Hello("phone-after-emfile", "P", "");
  EXPECT_TRUE(client.NextOf(wire::kPairingCodeRequired)) << "accepting resumed";
}

}  // namespace
}  // namespace Sorvane
