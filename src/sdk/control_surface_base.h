#pragma once
// The wrapper base classes a control surface derives from. The host never sees them: it calls
// the C suite tables, whose first argument is one of these objects, and the plug-in routes each
// call to the named method (never to a vtable index: ABIs differ in destructor entries).
#include "sdk/control_surface_types.h"

namespace Sorvane::sdk::adobesdk {

namespace detail {
template <typename T>
SPErr WriteNull(T* out) {
  if (out != nullptr)
    *out = T{};
  return kSPNoError;
}
}  // namespace detail

class ControlSurfaceBase {
 public:
  virtual ~ControlSurfaceBase() = default;
  virtual SPErr GetConfigIdentifier(ADOBESDK_String*) const { return kSPUnimplementedError; }
  virtual SPErr GetControlSurfaceFlags(uint32_t* out) const { return detail::WriteNull(out); }
  virtual SPErr GetTransportRef(ControlSurfaceTransportRef* out) { return detail::WriteNull(out); }
  virtual SPErr GetMixerRef(ControlSurfaceMixerRef* out) { return detail::WriteNull(out); }
  virtual SPErr GetMarkerRef(ControlSurfaceMarkerRef* out) { return detail::WriteNull(out); }
  virtual SPErr GetCommandRef(ControlSurfaceCommandRef* out) { return detail::WriteNull(out); }
  virtual SPErr GetLumetriRef(ControlSurfaceLumetriRef* out) { return detail::WriteNull(out); }
  virtual SPErr Update() { return kSPUnimplementedError; }
};

class ControlSurfaceTransportBase {
 public:
  virtual ~ControlSurfaceTransportBase() = default;
  virtual SPErr SetStopState(bool) { return kSPUnimplementedError; }
  virtual SPErr SetPlayState(bool) { return kSPUnimplementedError; }
  virtual SPErr SetRecordState(bool) { return kSPUnimplementedError; }
  virtual SPErr SetRewindState(bool) { return kSPUnimplementedError; }
  virtual SPErr SetForwardState(bool) { return kSPUnimplementedError; }
  virtual SPErr SetCycleState(bool) { return kSPUnimplementedError; }
  virtual SPErr SetPauseState(bool) { return kSPUnimplementedError; }
  virtual SPErr SetTimeDisplay(uint32_t, const ADOBESDK_String*) { return kSPUnimplementedError; }
};

class ControlSurfaceCommandBase {
 public:
  virtual ~ControlSurfaceCommandBase() = default;
  virtual SPErr GetUserButtonCount(uint32_t*) { return kSPUnimplementedError; }
  virtual SPErr GetUserButtonIDAtIndex(uint32_t, ADOBESDK_String*) { return kSPUnimplementedError; }
  virtual SPErr GetUserButtonDisplayName(const ADOBESDK_String*, ADOBESDK_String*) {
    return kSPUnimplementedError;
  }
  virtual SPErr SetUserButtonCommandID(const ADOBESDK_String*, const ADOBESDK_String*,
                                       const ADOBESDK_String*) {
    return kSPUnimplementedError;
  }
  virtual SPErr GetUserButtonCommandID(const ADOBESDK_String*, ADOBESDK_String*, ADOBESDK_String*) {
    return kSPUnimplementedError;
  }
};

}  // namespace Sorvane::sdk::adobesdk
