#pragma once
// "Premiere Time Suite" version 1: the host's tick rate.
#include "sdk/sdk_types.h"

namespace Sorvane::sdk {

inline constexpr const char* kPrSDKTimeSuite = "Premiere Time Suite";
inline constexpr int32_t kPrSDKTimeSuiteVersion = 1;

using PrVideoFrameRates = int32_t;

struct PrSDKTimeSuite {
  prSuiteError (*GetTicksPerSecond)(PrTime* ticksPerSecond);
  prSuiteError (*GetTicksPerVideoFrame)(PrVideoFrameRates rate, PrTime* ticksPerFrame);
  prSuiteError (*GetTicksPerAudioSample)(float sampleRate, PrTime* ticksPerSample);
};
static_assert(sizeof(PrSDKTimeSuite) == 24);

}  // namespace Sorvane::sdk
