#pragma once
#include <cstdint>
#include <string>

namespace Sorvane {

// The latest stream status an instance published, for the setup dialog.
struct UiStatus {
  uint8_t legacyEngineFlag = 0;
  std::string encoderDescription;
  uint8_t codecIsH264 = 0;
  uint8_t gopClass = 1;  // 0 all-intra, 1 short, 3 long
  uint8_t reserved = 0;
};

// The client's last settings, replayed into instances created later.
struct CachedClientSettings {
  int32_t qualityPercent = -1;
  int32_t shortSideCap = 0;
  int32_t codec = -1;
  int32_t gopSize = 0;
  int32_t gopMode = -1;
  int32_t rateControlMode = -1;
  bool cached = false;
};

}  // namespace Sorvane
