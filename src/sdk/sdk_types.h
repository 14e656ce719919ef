#pragma once
// Basic types of the host SDKs, declared from their published binary layouts (Windows x64). The
// same declarations serve the Linux build, whose x86_64 ABI has the same sizes for every type used
// here (the SDK's `long`-free types; a 2-byte UTF-16 unit instead of Linux's 4-byte wchar_t).
#include <cstddef>
#include <cstdint>

namespace Sorvane::sdk {

using csSDK_int8 = int8_t;
using csSDK_int16 = int16_t;
using csSDK_int32 = int32_t;
using csSDK_int64 = int64_t;
using csSDK_uint8 = uint8_t;
using csSDK_uint16 = uint16_t;
using csSDK_uint32 = uint32_t;
using csSDK_uint64 = uint64_t;
using csSDK_size_t = uint64_t;

using prBool = csSDK_int32;  // true 1, false 0
using PrTime = int64_t;      // ticks; the tick rate comes from the Time suite
using prUTF16Char = uint16_t;
using PrMemoryPtr = char*;
using prParentWnd = void*;  // HWND on Windows
using PrTimelineID = csSDK_int32;
using PrPlayID = csSDK_int32;
using prFieldType = csSDK_int32;
using prSuiteError = csSDK_int32;

inline constexpr prFieldType prFieldsAny = 4;

// FourCC with the first character in the low byte.
using PrPixelFormat = uint32_t;
inline constexpr PrPixelFormat PrPixelFormat_BGRA_4444_8u = 0x61726762;  // 'bgra'
inline constexpr PrPixelFormat PrPixelFormat_Invalid = 0x66646162;       // 'badf'

#pragma pack(push, 1)

struct prRect {
  csSDK_int32 left;
  csSDK_int32 top;
  csSDK_int32 right;
  csSDK_int32 bottom;
};
static_assert(sizeof(prRect) == 16);

// Opaque host string (two 64-bit words).
struct PrSDKString {
  csSDK_int64 opaque[2];
};
static_assert(sizeof(PrSDKString) == 16);

#pragma pack(pop)

using prPluginID = char[37];

enum PrActivationEvent : int32_t {
  PrActivationEvent_Unspecified = 0,
  PrActivationEvent_RecorderActivated = 1,
  PrActivationEvent_PlayerActivated = 2,
  PrActivationEvent_ApplicationLostFocus = 3,
};
enum pmPlayMode : int32_t { playmode_Stopped = 0, playmode_Playing = 1, playmode_Scrubbing = 2 };
enum PrRenderQuality : int32_t {
  kPrRenderQuality_Draft = 0,
  kPrRenderQuality_Low = 1,
  kPrRenderQuality_Medium = 2,
  kPrRenderQuality_High = 3,
  kPrRenderQuality_Max = 4,
};
using PrAudioChannelLabel = int32_t;
using PrAudioSampleType = int32_t;

inline constexpr prSuiteError suiteError_NoError = 0;
inline constexpr prSuiteError suiteError_Fail = static_cast<prSuiteError>(0x80000000u);

}  // namespace Sorvane::sdk
