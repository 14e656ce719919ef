#pragma once
// "SP Basic Suite" (version 4): handed to plug-ins by the host; suites are acquired through it.
// Function table only, natural alignment.
#include <cstddef>
#include <cstdint>

namespace Sorvane::sdk {

using SPErr = int32_t;
using SPBoolean = int32_t;
inline constexpr SPErr kSPNoError = 0;

struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, int32_t version);
  SPBoolean (*IsEqual)(const char* token1, const char* token2);
  SPErr (*AllocateBlock)(size_t size, void** block);
  SPErr (*FreeBlock)(void* block);
  SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newblock);
  SPErr (*Undefined)();
};
static_assert(sizeof(SPBasicSuite) == 56);

}  // namespace Sorvane::sdk
