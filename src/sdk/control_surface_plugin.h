#pragma once
// What a control-surface plug-in gives the host: its entry point, its five plug-in functions and
// the suites it publishes for its plug-in instances and surface objects.
#include "sdk/control_surface_types.h"
#include "sdk/sp_suites.h"

namespace Sorvane::sdk {

inline constexpr const char* kControlSurfacePluginSuiteName = "ADOBESDK ControlSurfacePlugin Suite";
inline constexpr const char* kControlSurfaceSuiteName = "ADOBESDK ControlSurface Suite";
inline constexpr const char* kControlSurfaceTransportSuiteName =
    "ADOBESDK ControlSurface Transport Suite";
inline constexpr const char* kControlSurfaceCommandSuiteName =
    "ADOBESDK ControlSurface Command Suite";

#pragma pack(push, 8)

struct ADOBESDK_ControlSurfacePluginFuncs {
  SPErr (*Startup)();
  SPErr (*Shutdown)();
  SPErr (*CreatePluginInstance)(ControlSurfacePluginRef* out);
  SPErr (*DeletePluginInstance)(ControlSurfacePluginRef plugin);
  SPErr (*GetSuiteList)(SPSuiteListRef* out);
};
static_assert(sizeof(ADOBESDK_ControlSurfacePluginFuncs) == 40);

using ControlSurfaceEntryPointFn = SPErr (*)(SPBasicSuite* basic, uint32_t majorVersion,
                                             uint32_t minorVersion,
                                             ADOBESDK_ControlSurfaceHostID hostId,
                                             ADOBESDK_ControlSurfacePluginFuncs* outFuncs);

struct ADOBESDK_ControlSurfacePluginSuite1 {
  SPErr (*Connect)(ControlSurfacePluginRef plugin, ControlSurfaceHostRef host,
                   ControlSurfaceRef* outSurface);
  SPErr (*Disconnect)(ControlSurfacePluginRef plugin);
  SPErr (*GetPluginID)(ControlSurfacePluginRef plugin, ADOBESDK_String* out);
  SPErr (*GetPluginDisplayString)(ControlSurfacePluginRef plugin, ADOBESDK_String* out);
  SPErr (*GetPluginSettings)(ControlSurfacePluginRef plugin, ADOBESDK_String* out);
  SPErr (*SetPluginSettings)(ControlSurfacePluginRef plugin, const ADOBESDK_String* settings);
  SPErr (*HasSettingsDialog)(ControlSurfacePluginRef plugin, ADOBESDK_Boolean* out);
  SPErr (*RunSettingsDialog)(ControlSurfacePluginRef plugin, void* parentWindow,
                             ADOBESDK_Boolean* outSettingsChanged);
  SPErr (*Suspend)(ControlSurfacePluginRef plugin);
  SPErr (*Resume)(ControlSurfacePluginRef plugin);
};
static_assert(sizeof(ADOBESDK_ControlSurfacePluginSuite1) == 80);

// Versions 1 and 2 share this table. Note the order at the end: Update before GetLumetriRef.
struct ADOBESDK_ControlSurfaceSuite2 {
  SPErr (*GetConfigIdentifier)(ControlSurfaceRef surface, ADOBESDK_String* out);
  SPErr (*GetControlSurfaceFlags)(ControlSurfaceRef surface, uint32_t* out);
  SPErr (*GetTransportRef)(ControlSurfaceRef surface, ControlSurfaceTransportRef* out);
  SPErr (*GetMixerRef)(ControlSurfaceRef surface, ControlSurfaceMixerRef* out);
  SPErr (*GetMarkerRef)(ControlSurfaceRef surface, ControlSurfaceMarkerRef* out);
  SPErr (*GetCommandRef)(ControlSurfaceRef surface, ControlSurfaceCommandRef* out);
  SPErr (*Update)(ControlSurfaceRef surface);
  SPErr (*GetLumetriRef)(ControlSurfaceRef surface, ControlSurfaceLumetriRef* out);
};
static_assert(sizeof(ADOBESDK_ControlSurfaceSuite2) == 64);

struct ADOBESDK_ControlSurfaceTransportSuite1 {
  using SetState = SPErr (*)(ControlSurfaceTransportRef transport, ADOBESDK_Boolean state);
  SetState SetStopState;
  SetState SetPlayState;
  SetState SetRecordState;
  SetState SetRewindState;
  SetState SetForwardState;
  SetState SetCycleState;
  SetState SetPauseState;
  SPErr (*SetTimeDisplay)(ControlSurfaceTransportRef transport, uint32_t mode,
                          const ADOBESDK_String* text);
};
static_assert(sizeof(ADOBESDK_ControlSurfaceTransportSuite1) == 64);

struct ADOBESDK_ControlSurfaceCommandSuite1 {
  SPErr (*GetUserButtonCount)(ControlSurfaceCommandRef command, uint32_t* out);
  SPErr (*GetUserButtonIDAtIndex)(ControlSurfaceCommandRef command, uint32_t index,
                                  ADOBESDK_String* out);
  SPErr (*GetUserButtonDisplayName)(ControlSurfaceCommandRef command,
                                    const ADOBESDK_String* buttonId, ADOBESDK_String* out);
  SPErr (*SetUserButtonCommand)(ControlSurfaceCommandRef command, const ADOBESDK_String* buttonId,
                                const ADOBESDK_String* contextId, const ADOBESDK_String* commandId);
  SPErr (*GetUserButtonCommand)(ControlSurfaceCommandRef command, const ADOBESDK_String* buttonId,
                                ADOBESDK_String* outContextId, ADOBESDK_String* outCommandId);
};
static_assert(sizeof(ADOBESDK_ControlSurfaceCommandSuite1) == 40);

#pragma pack(pop)

}  // namespace Sorvane::sdk
