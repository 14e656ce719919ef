#include "ctrl/control_surface.h"

#include "ctrl/ctrl_entry_guard.h"
#include "ctrl/ctrl_log.h"
#include "sdk/control_surface_base.h"

namespace Sorvane::ctrl {
namespace {

using namespace sdk;
using adobesdk::ControlSurfaceBase;
using adobesdk::ControlSurfaceCommandBase;
using adobesdk::ControlSurfaceTransportBase;

class SorvaneControlSurface final : public ControlSurfaceBase,
                                    public ControlSurfaceTransportBase,
                                    public ControlSurfaceCommandBase {
 public:
  SPErr GetTransportRef(ControlSurfaceTransportRef* out) override {
    if (out == nullptr)
      return kSPBadParameterError;
    *out = reinterpret_cast<ControlSurfaceTransportRef>(
        static_cast<ControlSurfaceTransportBase*>(this));
    return kSPNoError;
  }
  SPErr GetCommandRef(ControlSurfaceCommandRef* out) override {
    if (out == nullptr)
      return kSPBadParameterError;
    *out =
        reinterpret_cast<ControlSurfaceCommandRef>(static_cast<ControlSurfaceCommandBase*>(this));
    return kSPNoError;
  }
  SPErr SetPlayState(bool state) override {
    Log(kCtrlChannel, kLogInfo, "ctrl: SetPlayState(%d)", state ? 1 : 0);
    return kSPNoError;
  }
};

// The host calls the C tables with the object it got from us; each entry calls the named method.
ControlSurfaceBase* Surface(ControlSurfaceRef ref) {
  return reinterpret_cast<ControlSurfaceBase*>(ref);
}
ControlSurfaceTransportBase* Transport(ControlSurfaceTransportRef ref) {
  return reinterpret_cast<ControlSurfaceTransportBase*>(ref);
}
ControlSurfaceCommandBase* Command(ControlSurfaceCommandRef ref) {
  return reinterpret_cast<ControlSurfaceCommandBase*>(ref);
}

template <typename Ref, typename Call>
SPErr Forward(Ref ref, Call call) {
  if (ref == nullptr)
    return kSPBadParameterError;
  return RunGuarded<CtrlEntryFailure>("control surface suite", call);
}

const ADOBESDK_ControlSurfaceSuite2 kSurfaceSuite = {
    [](ControlSurfaceRef s, ADOBESDK_String* o) {
      return Forward(s, [&] { return Surface(s)->GetConfigIdentifier(o); });
    },
    [](ControlSurfaceRef s, uint32_t* o) {
      return Forward(s, [&] { return Surface(s)->GetControlSurfaceFlags(o); });
    },
    [](ControlSurfaceRef s, ControlSurfaceTransportRef* o) {
      return Forward(s, [&] { return Surface(s)->GetTransportRef(o); });
    },
    [](ControlSurfaceRef s, ControlSurfaceMixerRef* o) {
      return Forward(s, [&] { return Surface(s)->GetMixerRef(o); });
    },
    [](ControlSurfaceRef s, ControlSurfaceMarkerRef* o) {
      return Forward(s, [&] { return Surface(s)->GetMarkerRef(o); });
    },
    [](ControlSurfaceRef s, ControlSurfaceCommandRef* o) {
      return Forward(s, [&] { return Surface(s)->GetCommandRef(o); });
    },
    [](ControlSurfaceRef s) { return Forward(s, [&] { return Surface(s)->Update(); }); },
    [](ControlSurfaceRef s, ControlSurfaceLumetriRef* o) {
      return Forward(s, [&] { return Surface(s)->GetLumetriRef(o); });
    },
};

#define SV_SET_STATE(Method)                                         \
  [](ControlSurfaceTransportRef t, ADOBESDK_Boolean v) {             \
    return Forward(t, [&] { return Transport(t)->Method(v != 0); }); \
  }

const ADOBESDK_ControlSurfaceTransportSuite1 kTransportSuite = {
    SV_SET_STATE(SetStopState),
    SV_SET_STATE(SetPlayState),
    SV_SET_STATE(SetRecordState),
    SV_SET_STATE(SetRewindState),
    SV_SET_STATE(SetForwardState),
    SV_SET_STATE(SetCycleState),
    SV_SET_STATE(SetPauseState),
    [](ControlSurfaceTransportRef t, uint32_t mode, const ADOBESDK_String* text) {
      return Forward(t, [&] { return Transport(t)->SetTimeDisplay(mode, text); });
    },
};
#undef SV_SET_STATE

const ADOBESDK_ControlSurfaceCommandSuite1 kCommandSuite = {
    [](ControlSurfaceCommandRef c, uint32_t* o) {
      return Forward(c, [&] { return Command(c)->GetUserButtonCount(o); });
    },
    [](ControlSurfaceCommandRef c, uint32_t i, ADOBESDK_String* o) {
      return Forward(c, [&] { return Command(c)->GetUserButtonIDAtIndex(i, o); });
    },
    [](ControlSurfaceCommandRef c, const ADOBESDK_String* b, ADOBESDK_String* o) {
      return Forward(c, [&] { return Command(c)->GetUserButtonDisplayName(b, o); });
    },
    [](ControlSurfaceCommandRef c, const ADOBESDK_String* b, const ADOBESDK_String* x,
       const ADOBESDK_String* id) {
      return Forward(c, [&] { return Command(c)->SetUserButtonCommandID(b, x, id); });
    },
    [](ControlSurfaceCommandRef c, const ADOBESDK_String* b, ADOBESDK_String* x,
       ADOBESDK_String* id) {
      return Forward(c, [&] { return Command(c)->GetUserButtonCommandID(b, x, id); });
    },
};

}  // namespace

ControlSurfaceRef NewControlSurface() {
  auto* surface = new SorvaneControlSurface;
  return reinterpret_cast<ControlSurfaceRef>(static_cast<ControlSurfaceBase*>(surface));
}

void DeleteControlSurface(ControlSurfaceRef surface) {
  delete Surface(surface);
}

void AddSurfaceSuites(const SPSuitesSuite* suites, SPSuiteListRef list) {
  // The same table under both versions; internal version = API version.
  suites->AddSuite(list, nullptr, kControlSurfaceSuiteName, 1, 1, &kSurfaceSuite, nullptr);
  suites->AddSuite(list, nullptr, kControlSurfaceSuiteName, 2, 2, &kSurfaceSuite, nullptr);
  suites->AddSuite(list, nullptr, kControlSurfaceTransportSuiteName, 1, 1, &kTransportSuite,
                   nullptr);
  suites->AddSuite(list, nullptr, kControlSurfaceCommandSuiteName, 1, 1, &kCommandSuite, nullptr);
}

}  // namespace Sorvane::ctrl
