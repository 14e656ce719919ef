#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "net/framer.h"
#include "net/socket_ops.h"
#include "sv-receiver/app/media_receiver.h"
#include "sv-receiver/app/video_sink.h"

namespace Sorvane::receiver {
namespace {

uint32_t Ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t address = 0;
  std::memcpy(&address, bytes, 4);  // already in network order
  return address;
}

bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 300 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

// Anyone on the network can send datagrams to the phone's ports; only the plug-in's count.
TEST(MediaReceiver, OnlyDatagramsFromThePluginsAddressAreTaken) {
  VideoSink video("", 1);
  MediaSettings settings;
  settings.videoPort = settings.audioPort = 0;
  MediaReceiver media(settings, video);
  std::atomic<uint32_t> plugin{Ipv4(127, 0, 0, 2)};
  media.SetPeerAddress([&] { return plugin.load(); });
  ASSERT_TRUE(media.Start());
  const net::SocketHandle sender = net::CreateUdpSender();  // sends from 127.0.0.1
  ASSERT_NE(sender, net::kInvalidSocket);
  std::vector<std::vector<uint8_t>> datagrams;
  const std::vector<uint8_t> frame(3000, 0x11);
  uint32_t sequence = 0;
  BuildDatagrams(
      StreamKind::Video, true, 1, 7, sequence, 0, frame.data(), frame.size(),
      [&](const uint8_t* d, size_t n) { datagrams.emplace_back(d, d + n); }, true);
  auto sendAll = [&] {
    for (const auto& d : datagrams)
      net::SendTo(sender, d.data(), d.size(), Ipv4(127, 0, 0, 1), media.VideoPort());
  };

  sendAll();
  EXPECT_TRUE(Eventually([&] { return media.ForeignDatagrams() == datagrams.size(); }));
  EXPECT_EQ(media.VideoAssembly().datagramsAccepted, 0u);

  plugin = Ipv4(127, 0, 0, 1);
  sendAll();
  EXPECT_TRUE(Eventually([&] { return media.VideoAssembly().framesComplete == 1; }));
  EXPECT_EQ(media.ForeignDatagrams(), datagrams.size());
  media.Stop();
  net::CloseSocket(sender);
}

}  // namespace
}  // namespace Sorvane::receiver
