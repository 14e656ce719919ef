// The C suite tables of the fake control-surface host.
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "sv-host/ctrl_host.h"
#include "sv-host/ctrl_host_tables.h"

namespace Sorvane::hostsim {
namespace {

using namespace sdk;

ControlSurfaceHost& Host() {
  return ControlSurfaceHost::Instance();
}

// ---- String suite: a host string owns a heap UTF-16 copy.
constexpr int64_t kStringTag = 0x5356535452ll;

std::u16string* Text(const ADOBESDK_String* s) {
  if (s == nullptr || s->opaque[1] != kStringTag)
    return nullptr;
  return reinterpret_cast<std::u16string*>(s->opaque[0]);
}

SPErr Store(std::u16string text, ADOBESDK_String* out) {
  if (out == nullptr)
    return kSPBadParameterError;
  out->opaque[0] = reinterpret_cast<int64_t>(new std::u16string(std::move(text)));
  out->opaque[1] = kStringTag;
  ++Host().liveStrings_;
  return kSPNoError;
}

SPErr DisposeString(const ADOBESDK_String* s) {
  if (std::u16string* text = Text(s)) {
    delete text;
    const_cast<ADOBESDK_String*>(s)->opaque[0] = 0;
    const_cast<ADOBESDK_String*>(s)->opaque[1] = 0;
    --Host().liveStrings_;
  }
  return kSPNoError;
}

// The simulator's strings are ASCII at heart: anything wider becomes '?' in UTF-8.
template <typename Unit>
Unit Narrowed(char16_t c) {
  if constexpr (sizeof(Unit) == 1)
    return c < 0x80 ? static_cast<Unit>(c) : Unit('?');
  else
    return static_cast<Unit>(c);
}

template <typename Unit>
SPErr FromUnits(const Unit* text, ADOBESDK_String* out) {
  if (text == nullptr)
    return kSPBadParameterError;
  std::u16string wide;
  for (const Unit* c = text; *c != 0; ++c)
    wide.push_back(sizeof(Unit) == 1 && *c >= 0x80 ? u'?' : static_cast<char16_t>(*c));
  return Store(std::move(wide), out);
}

template <typename Unit>
SPErr ToUnits(const ADOBESDK_String* s, Unit* buffer, uint32_t* ioSize) {
  const std::u16string* text = Text(s);
  if (text == nullptr || ioSize == nullptr)
    return kSPBadParameterError;
  const uint32_t needed = static_cast<uint32_t>(text->size() + 1);
  if (buffer == nullptr || *ioSize < needed) {
    *ioSize = needed;
    return kStringBufferTooSmall;
  }
  for (size_t i = 0; i < text->size(); ++i)
    buffer[i] = Narrowed<Unit>((*text)[i]);
  buffer[text->size()] = 0;
  *ioSize = needed;
  return kSPNoError;
}

SPErr FromUtf8(const ADOBESDK_UTF8Char* text, ADOBESDK_String* out) {
  return FromUnits(text, out);
}

// ---- SP Suites suite: a list of published suites.
struct PublishedSuite {
  std::string name;
  int32_t apiVersion;
  int32_t internalVersion;
  const void* procs;
};
struct SuiteList {
  std::vector<PublishedSuite> suites;
};
SuiteList* List(SPSuiteListRef ref) {
  return reinterpret_cast<SuiteList*>(ref);
}

SPErr AllocateSuiteList(SPStringPoolRef, SPPluginListRef, SPSuiteListRef* out) {
  if (out == nullptr)
    return kSPBadParameterError;
  if (Host().failSuiteLists())
    return kSPOutOfMemoryError;
  *out = reinterpret_cast<SPSuiteListRef>(new SuiteList);
  return kSPNoError;
}
SPErr FreeSuiteList(SPSuiteListRef list) {
  delete List(list);
  return kSPNoError;
}
SPErr AddSuite(SPSuiteListRef list, SPPluginRef, const char* name, int32_t api, int32_t internal,
               const void* procs, SPSuiteRef*) {
  if (list == nullptr || name == nullptr)
    return kSPBadParameterError;
  List(list)->suites.push_back({name, api, internal, procs});
  return kSPNoError;
}
SPErr AcquireFromList(SPSuiteListRef list, const char* name, int32_t api, int32_t,
                      const void** procs) {
  if (list == nullptr || name == nullptr || procs == nullptr)
    return kSPBadParameterError;
  for (const PublishedSuite& s : List(list)->suites) {
    if (s.name == name && s.apiVersion == api) {
      *procs = s.procs;
      return kSPNoError;
    }
  }
  return kSPSuiteNotFoundError;
}
template <typename... Args>
SPErr Unimplemented(Args...) {
  return kSPUnimplementedError;
}

// ---- ControlSurfaceHost suites.
ControlSurfaceHostTransportRef TransportRef() {
  return reinterpret_cast<ControlSurfaceHostTransportRef>(&Host());
}
ControlSurfaceHostCommandRef CommandRef() {
  return reinterpret_cast<ControlSurfaceHostCommandRef>(reinterpret_cast<char*>(&Host()) + 1);
}

SPErr GetCommandRef(ControlSurfaceHostRef, ControlSurfaceHostCommandRef* out) {
  if (out == nullptr)
    return kSPBadParameterError;
  *out = CommandRef();
  return kSPNoError;
}
SPErr GetTransportRef(ControlSurfaceHostRef, ControlSurfaceHostTransportRef* out) {
  if (out == nullptr)
    return kSPBadParameterError;
  *out = TransportRef();
  return kSPNoError;
}

template <int kIndex>
SPErr TransportAction(ControlSurfaceHostTransportRef) {
  static constexpr const char* kNames[] = {
      "BeginRewind", "EndRewind", "BeginForward", "EndForward",  "Stop",
      "Play",        "Record",    "Pause",        "ToggleCycle", "GotoPrevious",
      "GotoNext",    "GotoStart", "ShuttleLeft",  "ShuttleStop", "ShuttleRight"};
  Host().Record("transport", kNames[kIndex], "");
  if (kIndex == 5)
    Host().ChangePlayState(1, "Play");
  if (kIndex == 4 || kIndex == 7)
    Host().ChangePlayState(0, kNames[kIndex]);
  return kSPNoError;
}

SPErr JogDial(ControlSurfaceHostTransportRef, float ticks, float perRevolution,
              ADOBESDK_Boolean shuttle) {
  char args[64];
  std::snprintf(args, sizeof args, "%g %g %d", ticks, perRevolution, shuttle);
  Host().Record("transport", "JogDial", args);
  return kSPNoError;
}
SPErr GetState(ControlSurfaceHostTransportRef, ADOBESDK_Boolean* out) {
  if (out == nullptr)
    return kSPBadParameterError;
  *out = 0;
  return kSPNoError;
}
SPErr GetPlayState(ControlSurfaceHostTransportRef, ADOBESDK_Boolean* out) {
  if (out == nullptr)
    return kSPBadParameterError;
  if (Host().throwFromPlayState())
    throw std::runtime_error("the host's play-state query threw");
  *out = Host().PlayState();  // exactly one byte, like the host
  return kSPNoError;
}

std::string Narrow(const ADOBESDK_String* s) {
  std::string text;
  if (const std::u16string* wide = Text(s))
    for (char16_t c : *wide)
      text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return text;
}

SPErr GetCommandCount(ControlSurfaceHostCommandRef, uint32_t* out) {
  if (out == nullptr)
    return kSPBadParameterError;
  *out = Host().commandCount();
  return kSPNoError;
}
SPErr GetCommand(ControlSurfaceHostCommandRef, uint32_t index, ADOBESDK_String* contextId,
                 ADOBESDK_String* contextName, ADOBESDK_String* commandId,
                 ADOBESDK_String* commandName) {
  if (index >= Host().commandCount())
    return kStringNotFound;
  const std::string n = std::to_string(index);
  FromUtf8(reinterpret_cast<const ADOBESDK_UTF8Char*>("sim.context"), contextId);
  FromUtf8(reinterpret_cast<const ADOBESDK_UTF8Char*>("Simulator"), contextName);
  FromUtf8(reinterpret_cast<const ADOBESDK_UTF8Char*>(("cmd.sim." + n).c_str()), commandId);
  FromUtf8(reinterpret_cast<const ADOBESDK_UTF8Char*>(("Command " + n).c_str()), commandName);
  return kSPNoError;
}
SPErr ExecuteCommand(ControlSurfaceHostCommandRef, const ADOBESDK_String* contextId,
                     const ADOBESDK_String* commandId) {
  if (commandId == nullptr)
    return kSPBadParameterError;
  const std::string context = contextId ? Narrow(contextId) : std::string();
  const std::string id = Narrow(commandId);
  Host().Record("command", "ExecuteCommand", context.empty() ? id : context + "/" + id);
  Host().WaitWhileCommandsHeld();
  const SPErr result = Host().commandResult();
  if (result == kSPNoError)
    Host().RunCommand(context, id);
  return result;
}

}  // namespace

const ADOBESDK_StringSuite1 kHostStringSuite = {DisposeString, FromUtf8, ToUnits, FromUnits,
                                                ToUnits};

const SPSuitesSuite kHostSuitesSuite = {
    AllocateSuiteList, FreeSuiteList, AddSuite,      AcquireFromList, Unimplemented,
    Unimplemented,     Unimplemented, Unimplemented, Unimplemented,   Unimplemented,
    Unimplemented,     Unimplemented, Unimplemented, Unimplemented,   Unimplemented};

const ADOBESDK_ControlSurfaceHostSuite2 kHostSuite = {GetCommandRef, Unimplemented, Unimplemented,
                                                      GetTransportRef, Unimplemented};

const ADOBESDK_ControlSurfaceHostTransportSuite1 kHostTransportSuite = {TransportAction<0>,
                                                                        TransportAction<1>,
                                                                        TransportAction<2>,
                                                                        TransportAction<3>,
                                                                        TransportAction<4>,
                                                                        TransportAction<5>,
                                                                        TransportAction<6>,
                                                                        TransportAction<7>,
                                                                        TransportAction<8>,
                                                                        TransportAction<9>,
                                                                        TransportAction<10>,
                                                                        TransportAction<11>,
                                                                        TransportAction<12>,
                                                                        TransportAction<13>,
                                                                        TransportAction<14>,
                                                                        JogDial,
                                                                        Unimplemented,
                                                                        GetState,
                                                                        GetState,
                                                                        GetPlayState,
                                                                        GetState};

const ADOBESDK_ControlSurfaceHostCommandSuite1 kHostCommandSuite = {Unimplemented, GetCommandCount,
                                                                    GetCommand, ExecuteCommand};

const void* FindInSuiteList(SPSuiteListRef list, const std::string& name, int32_t version) {
  const void* procs = nullptr;
  AcquireFromList(list, name.c_str(), version, version, &procs);
  return procs;
}

}  // namespace Sorvane::hostsim
