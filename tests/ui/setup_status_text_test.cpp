#include "ui/setup_status_text.h"

#include "ui/icon_glyphs.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace Sorvane {
namespace {

const std::string kDash = "\xE2\x80\x94";

std::map<int, std::string> Rows(const StreamStatusInputs& in) {
  std::map<int, std::string> rows;
  for (const StatusRowValue& row : StreamStatusRowValues(in))
    rows[row.id] = row.text;
  return rows;
}

TEST(SetupStatusText, NoInstanceNoPhoneThenWaitingThenStreaming) {
  StreamStatusInputs in;
  EXPECT_EQ(DeviceStatusText(in), "Transmit disabled");
  EXPECT_EQ(Rows(in)[2101], "Transmit disabled");
  EXPECT_FALSE(IsStreaming(in));
  in.connected = true;
  in.peerAddress = "192.168.1.20";
  EXPECT_EQ(DeviceStatusText(in), "Transmit disabled") << "a phone alone is not a stream";
  EXPECT_EQ(Rows(in)[2102], "192.168.1.20");
  in.connected = false;
  in.active = true;
  EXPECT_EQ(DeviceStatusText(in), "Ready \xC2\xB7 waiting for iPhone");
  EXPECT_EQ(Rows(in)[2101], "Idle \xC2\xB7 waiting for iPhone");
  EXPECT_EQ(Rows(in)[2102], kDash) << "an address left from a gone phone is not shown";
  in.connected = true;
  EXPECT_TRUE(IsStreaming(in));
  EXPECT_EQ(DeviceStatusText(in), "Streaming");
  EXPECT_EQ(Rows(in)[2101], "Streaming");
  in.peerAddress.clear();
  EXPECT_EQ(Rows(in)[2102], kDash);
}

TEST(SetupStatusText, AskedForSettingsAbsentThenPresent) {
  StreamStatusInputs in;
  auto rows = Rows(in);
  for (int id : {2103, 2105, 2106, 2109, 2119})
    EXPECT_EQ(rows[id], kDash) << id;
  in.settings.cached = true;
  in.settings.codec = 0;
  in.settings.shortSideCap = 1080;
  in.settings.gopSize = 30;
  in.settings.rateControlMode = 1;
  in.settings.qualityPercent = 85;
  rows = Rows(in);
  EXPECT_EQ(rows[2103], "HEVC (H.265)");
  EXPECT_EQ(rows[2105], "1080p (short-side cap)");
  EXPECT_EQ(rows[2109], "1080p (short side)");
  EXPECT_EQ(rows[2106], "Short-GOP (30)");
  EXPECT_EQ(rows[2119], "Quality 85 %");
  in.settings.codec = 1;
  in.settings.shortSideCap = 0;
  in.settings.gopSize = 1;
  in.settings.qualityPercent = -1;
  rows = Rows(in);
  EXPECT_EQ(rows[2103], "H.264");
  EXPECT_EQ(rows[2105], "Auto (native)");
  EXPECT_EQ(rows[2109], "Auto (native)");
  EXPECT_EQ(rows[2106], "All-Intra (every frame IDR)");
  EXPECT_EQ(rows[2119], "Quality");
  in.settings.rateControlMode = 0;
  EXPECT_EQ(Rows(in)[2119], "Adaptive (CBR, AIMD target)");
  in.settings.rateControlMode = 2;
  EXPECT_EQ(Rows(in)[2119], "VBR (peak-constrained)");
  in.settings.codec = 7;
  in.settings.rateControlMode = 9;
  in.settings.cached = false;
  EXPECT_EQ(Rows(in)[2103], kDash);
  EXPECT_EQ(Rows(in)[2119], kDash);
  EXPECT_EQ(Rows(in)[2105], kDash) << "cap 0 before any request is not a request";
}

TEST(SetupStatusText, EngineRowsFollowThePublishedStatus) {
  StreamStatusInputs in;
  in.uiStatus.encoderDescription = "x264 (software)";
  auto rows = Rows(in);
  EXPECT_EQ(rows[2137], kDash) << "nothing published yet";
  EXPECT_EQ(rows[2138], kDash);
  EXPECT_EQ(rows[2139], kDash);
  in.uiStatusPublished = true;
  in.uiStatus.codecIsH264 = 1;
  in.uiStatus.gopClass = 0;
  rows = Rows(in);
  EXPECT_EQ(rows[2137], "x264 (software)");
  EXPECT_EQ(rows[2138], "H.264");
  EXPECT_EQ(rows[2139], "All-Intra");
  in.uiStatus = {0, "NVIDIA NVENC HEVC (hardware)", 0, 3, 0};
  rows = Rows(in);
  EXPECT_EQ(rows[2137], "NVIDIA NVENC HEVC (hardware)");
  EXPECT_EQ(rows[2138], "H.265 (HEVC)");
  EXPECT_EQ(rows[2139], "Long-GOP");
  in.uiStatus.gopClass = 2;
  in.uiStatus.encoderDescription.clear();
  EXPECT_EQ(Rows(in)[2139], "Short-GOP");
  EXPECT_EQ(Rows(in)[2137], kDash);
  EXPECT_EQ(ActiveEncoderText(""), "Active encoder: " + kDash + " (not configured)");
  EXPECT_EQ(ActiveEncoderText("libx265"), "Active encoder: libx265");
}

TEST(SetupStatusText, AdaptationRowsShowTheirEmptyTexts) {
  auto rows = Rows(StreamStatusInputs{});
  for (int id : {2104, 2107, 2108, 2113, 2114, 2116, 2117, 2118})
    EXPECT_EQ(rows[id], kDash) << id;
  EXPECT_EQ(rows[2115], "n/a (v1)");
}

TEST(SetupStatusText, EveryRowIsDescribedOnceAndRefreshedExceptTheNetworkOnes) {
  std::set<int> described, refreshed;
  for (const StatusRowSpec& spec : StatusRowSpecs())
    EXPECT_TRUE(described.insert(spec.id).second) << spec.id;
  for (const StatusRowValue& row : StreamStatusRowValues({}))
    refreshed.insert(row.id);
  for (const StatusRowValue& row : NetworkRowValues({}, 47100))
    EXPECT_TRUE(refreshed.insert(row.id).second) << row.id;
  EXPECT_EQ(described, refreshed);
}

// Without an icon font every icon is drawn as a standard symbol: none may be left to the
// private-use area (an empty box in any other font) or to the anonymous bullet.
TEST(SetupStatusText, EveryIconHasAStandardSymbolOfItsOwn) {
  std::vector<wchar_t> glyphs = {icons::kName, icons::kDiscoverable, icons::kEncoder,
                                 icons::kPhone};
  for (const StatusRowSpec& spec : StatusRowSpecs())
    glyphs.push_back(spec.glyph);
  for (wchar_t glyph : glyphs) {
    const wchar_t symbol = StandardSymbolFor(glyph);
    EXPECT_FALSE(symbol >= 0xE000 && symbol <= 0xF8FF) << std::hex << static_cast<int>(glyph);
    EXPECT_NE(symbol, 0x2022) << "no stand-in for " << std::hex << static_cast<int>(glyph);
  }
}

TEST(SetupStatusText, NetworkRowsPreferWiredThenWireless) {
  auto network = [](const std::vector<NetworkInterfaceEntry>& list) {
    std::map<int, std::string> rows;
    for (const StatusRowValue& row : NetworkRowValues(list, 47100))
      rows[row.id] = row.text;
    return rows;
  };
  auto rows = network({});
  EXPECT_EQ(rows[2110], "(no network)");
  EXPECT_EQ(rows[2111], "(none)");
  EXPECT_EQ(rows[2112], "47100 control \xC2\xB7 47101 video \xC2\xB7 47102 audio");
  for (const StatusRowValue& row : NetworkRowValues({}, 47110)) {
    if (row.id == 2112) {
      EXPECT_EQ(row.text, "47110 control \xC2\xB7 47101 video \xC2\xB7 47102 audio")
          << "another host's control port is shown as it is";
    }
  }
  rows = network({{"Wi-Fi", "10.0.0.5"}, {"Ethernet 2", "192.168.0.9"}});
  EXPECT_EQ(rows[2110], "192.168.0.9");
  EXPECT_EQ(rows[2111], "Wi-Fi: 10.0.0.5   Ethernet 2: 192.168.0.9");
  EXPECT_EQ(
      PrimaryIPv4Address({{"Wi-Fi", "10.0.0.5"}, {"vEthernet (Default Switch)", "172.20.0.1"}}),
      "172.20.0.1");
  EXPECT_EQ(PrimaryIPv4Address({{"eth0", "10.1.1.1"}, {"Wi-Fi", "10.0.0.5"}}), "10.0.0.5");
  EXPECT_EQ(PrimaryIPv4Address({{"eth0", "10.1.1.1"}, {"wlan0", "10.0.0.5"}}), "10.1.1.1");
  EXPECT_EQ(PrimaryIPv4Address({{"ethernet", "10.1.1.1"}, {"x", "10.0.0.5"}}), "10.1.1.1")
      << "no match is case-sensitive, so the first entry wins";
}

TEST(SetupStatusText, EnumeratedInterfacesAreUpIPv4WithoutLoopback) {
  for (const NetworkInterfaceEntry& entry : EnumerateIPv4Interfaces()) {
    EXPECT_FALSE(entry.name.empty());
    EXPECT_NE(entry.address.rfind("127.", 0), 0u) << entry.name;
    EXPECT_EQ(std::count(entry.address.begin(), entry.address.end(), '.'), 3) << entry.address;
  }
}

}  // namespace
}  // namespace Sorvane
