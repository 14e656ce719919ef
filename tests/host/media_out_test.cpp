// What leaves the instance for the phone's media ports: the datagrams of a frame with their
// parity, and a keyframe when the datagrams stop getting out.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/host_frames.h"
#include "host/paired_instance_test_base.h"
#include "host/shaped_encoder.h"
#include "net/datagram_header.h"
#include "support/plugin_log.h"
#include "transport/transport_fixture.h"

namespace Sorvane {
namespace {

class MediaOutTest : public test::PairedInstanceTest {
 protected:
  void SetUp() override {
    test::PairedInstanceTest::SetUp();
    if (HasFatalFailure())
      return;
    instance = MakeInstance([this](const std::string&) {
      return std::make_shared<test::ShapedEncoder>(std::make_shared<test::FakeEncoder>(world),
                                                   shape);
    });
  }
  std::shared_ptr<test::EncoderShape> shape = std::make_shared<test::EncoderShape>();
};

// 14 401 bytes are 11 data fragments (ten full ones and one byte); a tenth of them, rounded up,
// is 2 parity fragments.
TEST_F(MediaOutTest, AFrameGoesOutAsItsDataFragmentsAndATenthMoreOfParity) {
  shape->outputBytes = 14'401;
  const net::SocketHandle video = TakeVideoReceiver();
  test::PushFrames(*instance, 640, 360);
  std::set<uint16_t> indices;
  std::vector<DatagramHeader> headers;
  uint8_t buffer[2048];
  for (int n; (n = net::ReceiveDatagram(video, buffer, sizeof buffer, 2000)) > 0;) {
    const auto header = ParseDatagramHeader(buffer, static_cast<size_t>(n));
    ASSERT_TRUE(header);
    headers.push_back(*header);
    indices.insert(header->fragmentIndex);
    if (headers.size() == 13)
      break;
  }
  net::CloseSocket(video);
  ASSERT_EQ(headers.size(), 13u);
  EXPECT_EQ(indices.size(), 13u);
  EXPECT_EQ(*indices.rbegin(), 12);
  for (const DatagramHeader& h : headers) {
    EXPECT_EQ(h.fragmentTotal, 13);
    EXPECT_EQ(h.parityCount(), 2);
    EXPECT_EQ(h.frameId, headers[0].frameId);
  }
  EXPECT_EQ(headers[10].payloadLength, 1) << "the last data fragment holds the 14 401st byte";
  EXPECT_EQ(headers[11].payloadLength, 1442) << "then the parity fragments";
}

// Datagrams to port 0 are refused by the system.
class UdpFailureTest : public MediaOutTest {
 protected:
  void ConfigureTransport(NetworkTransport::Options& options) override { options.videoPort = 0; }
};

TEST_F(UdpFailureTest, DatagramsThatKeepFailingMakeTheNextFrameAKeyframe) {
  test::PushFrames(*instance, 640, 360);  // the first frame is a keyframe anyway
  const int before = shape->keyframeRequests.load();
  for (int i = 0; i < 2; ++i)  // two datagrams a frame: the fifth failure comes in the third
    test::PushFrames(*instance, 640, 360);
  ASSERT_TRUE(test::Eventually([&] { return shape->keyframeRequests.load() > before; }))
      << "the fifth failed datagram in a row asks the instance for a keyframe";
  EXPECT_NE(test::TestLog().find("consecutive UDP failures — forcing IDR"), std::string::npos);
}

}  // namespace
}  // namespace Sorvane
