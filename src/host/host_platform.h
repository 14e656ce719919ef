#pragma once
#include <cstdint>

namespace Sorvane {

// What kHostPlatform tells the client about the computer.
struct HostPlatform {
  uint8_t platform;          // 1 = Windows
  uint8_t architecture;      // 2 = x86_64
  const char* platformName;  // for the log line
  const char* architectureName;
};

HostPlatform CurrentHostPlatform();

}  // namespace Sorvane
