#pragma once
// "SP Suites Suite" (version 2): lets a plug-in build the list of suites it publishes. 15
// functions; only the first three are called by us, the rest are declared to keep the layout.
#include <cstdint>

#include "sdk/sp_basic.h"

namespace Sorvane::sdk {

struct SPSuiteList;
struct SPStringPool;
struct SPPluginList;
struct SPPlugin;
struct SPSuite;
struct SPSuiteListIterator;
using SPSuiteListRef = SPSuiteList*;
using SPStringPoolRef = SPStringPool*;
using SPPluginListRef = SPPluginList*;
using SPPluginRef = SPPlugin*;
using SPSuiteRef = SPSuite*;
using SPSuiteListIteratorRef = SPSuiteListIterator*;

inline constexpr const char* kSPSuitesSuiteName = "SP Suites Suite";
inline constexpr int32_t kSPSuitesSuiteVersion = 2;

#pragma pack(push, 8)
struct SPSuitesSuite {
  SPErr (*AllocateSuiteList)(SPStringPoolRef pool, SPPluginListRef plugins, SPSuiteListRef* out);
  SPErr (*FreeSuiteList)(SPSuiteListRef list);
  SPErr (*AddSuite)(SPSuiteListRef list, SPPluginRef host, const char* name, int32_t apiVersion,
                    int32_t internalVersion, const void* procs, SPSuiteRef* out);
  SPErr (*AcquireSuite)(SPSuiteListRef list, const char* name, int32_t apiVersion,
                        int32_t internalVersion, const void** procs);
  SPErr (*ReleaseSuite)(SPSuiteListRef list, const char* name, int32_t apiVersion,
                        int32_t internalVersion);
  SPErr (*FindSuite)(SPSuiteListRef list, const char* name, int32_t apiVersion,
                     int32_t internalVersion, SPSuiteRef* out);
  SPErr (*NewSuiteListIterator)(SPSuiteListRef list, SPSuiteListIteratorRef* out);
  SPErr (*NextSuite)(SPSuiteListIteratorRef iter, SPSuiteRef* out);
  SPErr (*DeleteSuiteListIterator)(SPSuiteListIteratorRef iter);
  SPErr (*GetSuiteHost)(SPSuiteRef suite, SPPluginRef* out);
  SPErr (*GetSuiteName)(SPSuiteRef suite, const char** out);
  SPErr (*GetSuiteAPIVersion)(SPSuiteRef suite, int32_t* out);
  SPErr (*GetSuiteInternalVersion)(SPSuiteRef suite, int32_t* out);
  SPErr (*GetSuiteProcs)(SPSuiteRef suite, const void** out);
  SPErr (*GetSuiteAcquireCount)(SPSuiteRef suite, int32_t* out);
};
#pragma pack(pop)
static_assert(sizeof(SPSuitesSuite) == 120);

}  // namespace Sorvane::sdk
