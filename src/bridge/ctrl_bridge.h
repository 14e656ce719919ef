#pragma once
// The plain-function interface between the two plug-ins. Only a pointer to the control-surface
// plug-in's static record and plain integers cross between the modules.
#include <cstdint>

namespace Sorvane {

// Transport actions the control-surface plug-in runs in the host (phone opcode − 0x20).
enum class SVCtrlOpcode : int32_t {
  PlayPause = 0,
  StepForward = 1,
  StepBack = 2,
  StepForwardFive = 3,
  StepBackFive = 4,
  GotoIn = 5,
  GotoOut = 6,
  ShuttleReverse = 7,
  ShuttleStop = 8,
  ShuttleForward = 9,
  Nudge = 10,  // redraw the current frame for a new client
};

using CtrlDispatchFn = int32_t (*)(int32_t op);

// Dispatch results.
inline constexpr int32_t kCtrlDispatchDone = 0;
inline constexpr int32_t kCtrlDispatchUnavailable = -1;  // not connected or unknown opcode
inline constexpr int32_t kCtrlDispatchHostError = -2;

inline constexpr uint32_t kCtrlBridgeVersion = 1;

extern "C" {
struct CtrlBridge {
  CtrlDispatchFn dispatch;  // null while no surface is connected
  uint32_t version;         // callers refuse anything but kCtrlBridgeVersion
};
using CtrlBridgeGetFn = CtrlBridge* (*)();
using TransmitPublishFn = uint8_t (*)(uint32_t playing);
}

inline constexpr const char* kCtrlBridgeGetExport = "sv_ctrl_bridge_get";
inline constexpr const char* kTransmitPublishExport = "sv_transmit_publish_playback_state";
inline constexpr const char* kTransmitModuleName = "Sorvane.prm";
inline constexpr const char* kCtrlModuleName = "SorvaneCtrl.acsrf";
inline constexpr const char* kAfterEffectsBridgeModuleName = "SorvaneAE.aex";

}  // namespace Sorvane
