#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "net/ui_status.h"

namespace Sorvane {

// What one status refresh reads, copied at its start.
struct StreamStatusInputs {
  bool active = false;     // some transmit instance is started
  bool connected = false;  // a paired phone is connected
  std::string peerAddress;
  CachedClientSettings settings;
  bool uiStatusPublished = false;
  UiStatus uiStatus;
  std::string encoderDescription;  // the configured encoder, empty when none
};

struct NetworkInterfaceEntry {
  std::string name;
  std::string address;  // dotted IPv4
};

// One status row of the advanced panel: where it stands, what it says.
struct StatusRowSpec {
  int id;
  bool rightColumn;
  const char* group;  // the section or sub-section heading it follows
  const char* label;
  wchar_t glyph;  // icon font code point
};
const std::vector<StatusRowSpec>& StatusRowSpecs();

struct StatusRowValue {
  int id;
  std::string text;
};

bool IsStreaming(const StreamStatusInputs& in);
std::string DeviceStatusText(const StreamStatusInputs& in);
std::string ActiveEncoderText(const std::string& encoderDescription);
// Every row the timer refreshes (all but the network rows), in table order.
std::vector<StatusRowValue> StreamStatusRowValues(const StreamStatusInputs& in);
// The IP, Interfaces and Ports rows.
std::vector<StatusRowValue> NetworkRowValues(const std::vector<NetworkInterfaceEntry>& interfaces,
                                             uint16_t controlPort);
// Wired before wireless, else the first, else empty.
std::string PrimaryIPv4Address(const std::vector<NetworkInterfaceEntry>& interfaces);

// Up, non-loopback adapters with their IPv4 addresses, one entry per address.
std::vector<NetworkInterfaceEntry> EnumerateIPv4Interfaces();

}  // namespace Sorvane
