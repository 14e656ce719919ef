#pragma once
// "Premiere PPix Suite" version 1: access to a rendered frame. A PPixHand is opaque; only the
// suite reads it.
#include "sdk/sdk_types.h"

namespace Sorvane::sdk {

inline constexpr const char* kPrSDKPPixSuite = "Premiere PPix Suite";
inline constexpr int32_t kPrSDKPPixSuiteVersion = 1;

struct PPix;
using PPixHand = PPix**;

enum PrPPixBufferAccess : int32_t {
  PrPPixBufferAccess_ReadOnly = 0,
  PrPPixBufferAccess_WriteOnly = 1,
  PrPPixBufferAccess_ReadWrite = 2,
};

struct PrSDKPPixSuite {
  prSuiteError (*Dispose)(PPixHand pix);
  prSuiteError (*GetPixels)(PPixHand pix, PrPPixBufferAccess access, char** pixels);
  prSuiteError (*GetBounds)(PPixHand pix, prRect* bounds);
  prSuiteError (*GetRowBytes)(PPixHand pix, csSDK_int32* rowBytes);
  prSuiteError (*GetPixelAspectRatio)(PPixHand pix, csSDK_uint32* num, csSDK_uint32* den);
  prSuiteError (*GetPixelFormat)(PPixHand pix, PrPixelFormat* format);
  prSuiteError (*GetUniqueKey)(PPixHand pix, unsigned char* buffer, size_t bufferSize);
  prSuiteError (*GetUniqueKeySize)(size_t* size);
  prSuiteError (*GetRenderTime)(PPixHand pix, csSDK_int32* milliseconds);
};
static_assert(sizeof(PrSDKPPixSuite) == 72);

}  // namespace Sorvane::sdk
