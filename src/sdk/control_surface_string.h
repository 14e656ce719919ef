#pragma once
// "ADOBESDK StringSuite" version 1: host strings, made from and copied to UTF-8 / UTF-16.
#include "sdk/control_surface_types.h"

namespace Sorvane::sdk {

inline constexpr const char* kStringSuiteName = "ADOBESDK StringSuite";
inline constexpr int32_t kStringSuiteVersion = 1;

#pragma pack(push, 8)
struct ADOBESDK_StringSuite1 {
  SPErr (*DisposeString)(const ADOBESDK_String* s);
  SPErr (*AllocateFromUTF8)(const ADOBESDK_UTF8Char* text, ADOBESDK_String* out);
  // ioSize: in the buffer's size, out the elements copied with the terminator (or the size needed
  // with kStringBufferTooSmall).
  SPErr (*CopyToUTF8String)(const ADOBESDK_String* s, ADOBESDK_UTF8Char* buffer, uint32_t* ioSize);
  SPErr (*AllocateFromUTF16)(const ADOBESDK_UTF16Char* text, ADOBESDK_String* out);
  SPErr (*CopyToUTF16String)(const ADOBESDK_String* s, ADOBESDK_UTF16Char* buffer,
                             uint32_t* ioSize);
};
#pragma pack(pop)
static_assert(sizeof(ADOBESDK_StringSuite1) == 40);

}  // namespace Sorvane::sdk
