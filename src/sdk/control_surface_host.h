#pragma once
// The host's control-surface suites: what a surface may ask the host to do.
#include "sdk/control_surface_types.h"

namespace Sorvane::sdk {

inline constexpr const char* kControlSurfaceHostSuiteName = "ADOBESDK ControlSurfaceHost Suite";
inline constexpr int32_t kControlSurfaceHostSuiteVersion = 2;
inline constexpr const char* kControlSurfaceHostTransportSuiteName =
    "ADOBESDK ControlSurfaceHost Transport Suite";
inline constexpr int32_t kControlSurfaceHostTransportSuiteVersion = 1;
inline constexpr const char* kControlSurfaceHostCommandSuiteName =
    "ADOBESDK ControlSurfaceHost Command Suite";
inline constexpr int32_t kControlSurfaceHostCommandSuiteVersion = 1;

#pragma pack(push, 8)

struct ADOBESDK_ControlSurfaceHostSuite2 {
  SPErr (*GetCommandRef)(ControlSurfaceHostRef host, ControlSurfaceHostCommandRef* out);
  SPErr (*GetMarkerRef)(ControlSurfaceHostRef host, ControlSurfaceHostMarkerRef* out);
  SPErr (*GetMixerRef)(ControlSurfaceHostRef host, ControlSurfaceHostMixerRef* out);
  SPErr (*GetTransportRef)(ControlSurfaceHostRef host, ControlSurfaceHostTransportRef* out);
  SPErr (*GetLumetriRef)(ControlSurfaceHostRef host, ControlSurfaceHostLumetriRef* out);
};
static_assert(sizeof(ADOBESDK_ControlSurfaceHostSuite2) == 40);

struct ADOBESDK_ControlSurfaceHostTransportSuite1 {
  using Action = SPErr (*)(ControlSurfaceHostTransportRef transport);
  Action BeginRewind;
  Action EndRewind;
  Action BeginForward;
  Action EndForward;
  Action Stop;
  Action Play;
  Action Record;
  Action Pause;
  Action ToggleCycle;
  Action GotoPrevious;
  Action GotoNext;
  Action GotoStart;
  Action ShuttleLeft;
  Action ShuttleStop;
  Action ShuttleRight;
  SPErr (*JogDial)(ControlSurfaceHostTransportRef transport, float ticksMoved,
                   float ticksPerRevolution, ADOBESDK_Boolean shuttle);
  SPErr (*GetTimeDisplayString)(ControlSurfaceHostTransportRef transport, uint32_t* outMode,
                                uint32_t maxLength, ADOBESDK_String* out);
  SPErr (*GetRecordState)(ControlSurfaceHostTransportRef transport, ADOBESDK_Boolean* out);
  SPErr (*GetStopState)(ControlSurfaceHostTransportRef transport, ADOBESDK_Boolean* out);
  SPErr (*GetPlayState)(ControlSurfaceHostTransportRef transport, ADOBESDK_Boolean* out);
  SPErr (*GetSoloState)(ControlSurfaceHostTransportRef transport, ADOBESDK_Boolean* out);
};
static_assert(sizeof(ADOBESDK_ControlSurfaceHostTransportSuite1) == 168);

struct ADOBESDK_ControlSurfaceHostCommandSuite1 {
  SPErr (*Navigate)(ControlSurfaceHostCommandRef command, ADOBESDK_Boolean keyDown, int32_t dx,
                    int32_t dy, ADOBESDK_Boolean zoom);
  SPErr (*GetCommandCount)(ControlSurfaceHostCommandRef command, uint32_t* out);
  SPErr (*GetCommand)(ControlSurfaceHostCommandRef command, uint32_t index,
                      ADOBESDK_String* outContextId, ADOBESDK_String* outContextName,
                      ADOBESDK_String* outCommandId, ADOBESDK_String* outCommandName);
  SPErr (*ExecuteCommand)(ControlSurfaceHostCommandRef command, const ADOBESDK_String* contextId,
                          const ADOBESDK_String* commandId);
};
static_assert(sizeof(ADOBESDK_ControlSurfaceHostCommandSuite1) == 32);

#pragma pack(pop)

}  // namespace Sorvane::sdk
