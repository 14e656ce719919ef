#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sdk/control_surface_host.h"
#include "sdk/control_surface_plugin.h"
#include "sdk/control_surface_string.h"
#include "sdk/sp_suites.h"

namespace Sorvane::hostsim {

// What the plug-in asked of the host, in order.
struct HostCall {
  std::string suite;   // "transport" or "command"
  std::string name;    // function name ("ShuttleStop", "ExecuteCommand", …)
  std::string detail;  // arguments as text ("cmd.goto.in", "1 24 0", …)
  std::thread::id thread;
};

// A small control-surface host: the SP Basic suite with the String, SP Suites and
// ControlSurfaceHost suites (host, transport, command), a play state, and a record of every
// transport and command call. One per process, like the host.
class ControlSurfaceHost {
 public:
  static ControlSurfaceHost& Instance();

  sdk::SPBasicSuite* Basic();
  sdk::ControlSurfaceHostRef HostRef();

  // Progress lines ("host: transport Play", "host: command …", play-state changes).
  void SetLogSink(std::function<void(const std::string&)> sink);

  // Test knobs.
  void SetMissingSuites(std::set<std::string> names);  // AcquireSuite answers 'S!Fd' for these
  void SetCommandResult(sdk::SPErr result);            // what ExecuteCommand answers
  void SetCommandCount(uint32_t count);
  void SetPlayState(uint8_t state);
  uint8_t PlayState() const { return playState_.load(); }
  // Unkind hosts: commands that do not return until released (the host runs them on a thread
  // the caller waits for), a play-state query that throws, a suite list that cannot be made.
  void HoldCommands(bool hold);
  void ThrowFromPlayState(bool throws) { throwFromPlayState_.store(throws); }
  void FailSuiteLists(bool fail) { failSuiteLists_.store(fail); }

  std::vector<HostCall> Calls() const;
  void ClearCalls();
  int LiveStrings() const { return liveStrings_.load(); }
  int AcquiredSuites() const { return acquired_.load(); }

  // Suite list helpers (the host's view of what the plug-in published).
  const void* FindPublishedSuite(sdk::SPSuiteListRef list, const std::string& name,
                                 int32_t version) const;

  // Internal: called from the C tables.
  void Record(const char* suite, const char* name, std::string detail);
  void ChangePlayState(uint8_t state, const char* why);
  void RunCommand(const std::string& context, const std::string& id);
  sdk::SPErr commandResult() const { return commandResult_.load(); }
  uint32_t commandCount() const { return commandCount_.load(); }
  bool IsMissing(const char* name) const;
  void WaitWhileCommandsHeld();
  bool throwFromPlayState() const { return throwFromPlayState_.load(); }
  bool failSuiteLists() const { return failSuiteLists_.load(); }
  void Say(const std::string& line) const;
  std::atomic<int> liveStrings_{0};
  std::atomic<int> acquired_{0};

 private:
  ControlSurfaceHost() = default;
  mutable std::mutex lock_;
  std::vector<HostCall> calls_;                   // guarded by lock_
  std::set<std::string> missing_;                 // guarded by lock_
  std::function<void(const std::string&)> sink_;  // guarded by lock_
  std::atomic<uint8_t> playState_{0};
  std::atomic<sdk::SPErr> commandResult_{0};
  std::atomic<uint32_t> commandCount_{3};
  std::condition_variable commandsReleased_;
  bool holdCommands_ = false;  // guarded by lock_
  std::atomic<bool> throwFromPlayState_{false};
  std::atomic<bool> failSuiteLists_{false};
};

// Drives a control-surface module the way the host does: load, EntryPoint, Startup, its suite
// list, one plug-in instance, Connect; Stop disconnects, deletes the instance and shuts down.
class CtrlHostSession {
 public:
  CtrlHostSession();
  ~CtrlHostSession();
  CtrlHostSession(const CtrlHostSession&) = delete;
  CtrlHostSession& operator=(const CtrlHostSession&) = delete;

  // Loads the module, calls EntryPoint and Startup; false with `error` on failure.
  bool Start(const std::string& path, std::string* error);
  // Creates the plug-in instance and connects it (the surface may be dormant).
  bool Connect(std::string* error);
  void Disconnect();
  // Disconnects, deletes the instance and shuts down; with `unload`, frees the module as well
  // (otherwise it stays mapped, like a host that never unloads).
  void Stop(bool unload = false);

  void* Symbol(const char* name) const;
  const sdk::ADOBESDK_ControlSurfacePluginFuncs& funcs() const { return funcs_; }
  const sdk::ADOBESDK_ControlSurfacePluginSuite1* pluginSuite() const { return pluginSuite_; }
  sdk::SPSuiteListRef suiteList() const { return suiteList_; }
  sdk::ControlSurfacePluginRef instance() const { return instance_; }
  sdk::ControlSurfaceRef surface() const { return surface_; }
  sdk::SPErr startupResult() const { return startupResult_; }

 private:
  struct Module;
  std::unique_ptr<Module> module_;
  sdk::ADOBESDK_ControlSurfacePluginFuncs funcs_{};
  const sdk::ADOBESDK_ControlSurfacePluginSuite1* pluginSuite_ = nullptr;
  sdk::SPSuiteListRef suiteList_ = nullptr;
  sdk::ControlSurfacePluginRef instance_ = nullptr;
  sdk::ControlSurfaceRef surface_ = nullptr;
  sdk::SPErr startupResult_ = -1;
  bool started_ = false;
};

// "auto": SorvaneCtrl.acsrf in the transmit plug-in's folder; anything else is a path.
std::string ResolveCtrlPath(const std::string& ctrlOption, const std::string& pluginPath);

}  // namespace Sorvane::hostsim
