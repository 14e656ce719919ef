#pragma once
// Basic types and result codes of the control-surface SDK (natural alignment).
#include <cstdint>

#include "sdk/sp_basic.h"

namespace Sorvane::sdk {

// Four-character result codes: first character in the most significant byte.
inline constexpr SPErr kSPBadParameterError = 0x5061726D;   // 'Parm'
inline constexpr SPErr kSPSuiteNotFoundError = 0x53214664;  // 'S!Fd'
inline constexpr SPErr kSPUnimplementedError = 0x21494D50;  // '!IMP'
inline constexpr SPErr kSPOutOfMemoryError = -108;
inline constexpr SPErr kStringBufferTooSmall = 0x73627473;  // 'sbts'
inline constexpr SPErr kStringNotFound = 0x73746E66;        // 'stnf'

using ADOBESDK_Boolean = uint8_t;  // one byte: outputs of this type receive a single byte
using ADOBESDK_UTF16Char = uint16_t;
using ADOBESDK_UTF8Char = uint8_t;
using ADOBESDK_ControlSurfaceHostID = uint32_t;  // Audition 0, Premiere Pro 1, unknown -1

// Opaque host string; made and disposed only through the string suite.
struct alignas(8) ADOBESDK_String {
  int64_t opaque[2];
};
static_assert(sizeof(ADOBESDK_String) == 16);

// Opaque handles.
struct ControlSurfaceHostOpaque;
struct ControlSurfacePluginOpaque;
struct ControlSurfaceOpaque;
struct ControlSurfaceHostCommandOpaque;
struct ControlSurfaceHostMarkerOpaque;
struct ControlSurfaceHostMixerOpaque;
struct ControlSurfaceHostTransportOpaque;
struct ControlSurfaceHostLumetriOpaque;
struct ControlSurfaceTransportOpaque;
struct ControlSurfaceMarkerOpaque;
struct ControlSurfaceCommandOpaque;
struct ControlSurfaceMixerOpaque;
struct ControlSurfaceLumetriOpaque;
using ControlSurfaceHostRef = ControlSurfaceHostOpaque*;
using ControlSurfacePluginRef = ControlSurfacePluginOpaque*;
using ControlSurfaceRef = ControlSurfaceOpaque*;
using ControlSurfaceHostCommandRef = ControlSurfaceHostCommandOpaque*;
using ControlSurfaceHostMarkerRef = ControlSurfaceHostMarkerOpaque*;
using ControlSurfaceHostMixerRef = ControlSurfaceHostMixerOpaque*;
using ControlSurfaceHostTransportRef = ControlSurfaceHostTransportOpaque*;
using ControlSurfaceHostLumetriRef = ControlSurfaceHostLumetriOpaque*;
using ControlSurfaceTransportRef = ControlSurfaceTransportOpaque*;
using ControlSurfaceMarkerRef = ControlSurfaceMarkerOpaque*;
using ControlSurfaceCommandRef = ControlSurfaceCommandOpaque*;
using ControlSurfaceMixerRef = ControlSurfaceMixerOpaque*;
using ControlSurfaceLumetriRef = ControlSurfaceLumetriOpaque*;

}  // namespace Sorvane::sdk
