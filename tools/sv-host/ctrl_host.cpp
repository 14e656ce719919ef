#include "sv-host/ctrl_host.h"

#include <cstring>
#include <filesystem>

#include "sv-host/ctrl_host_tables.h"
#include "sv-host/module_loader.h"

namespace Sorvane::hostsim {
namespace {

using namespace sdk;

struct HostSuiteEntry {
  const char* name;
  int32_t version;
  const void* procs;
};

const HostSuiteEntry kHostSuites[] = {
    {kStringSuiteName, kStringSuiteVersion, &kHostStringSuite},
    {kSPSuitesSuiteName, kSPSuitesSuiteVersion, &kHostSuitesSuite},
    {kControlSurfaceHostSuiteName, 1, &kHostSuite},
    {kControlSurfaceHostSuiteName, 2, &kHostSuite},
    {kControlSurfaceHostTransportSuiteName, 1, &kHostTransportSuite},
    {kControlSurfaceHostCommandSuiteName, 1, &kHostCommandSuite},
};

SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
  ControlSurfaceHost& host = ControlSurfaceHost::Instance();
  if (name == nullptr || suite == nullptr)
    return kSPBadParameterError;
  *suite = nullptr;
  if (host.IsMissing(name))
    return kSPSuiteNotFoundError;
  for (const HostSuiteEntry& entry : kHostSuites) {
    if (std::strcmp(entry.name, name) == 0 && entry.version == version) {
      *suite = entry.procs;
      ++host.acquired_;
      return kSPNoError;
    }
  }
  return kSPSuiteNotFoundError;
}

SPErr ReleaseSuite(const char*, int32_t) {
  --ControlSurfaceHost::Instance().acquired_;
  return kSPNoError;
}

SPBoolean IsEqual(const char* a, const char* b) {
  return a && b && std::strcmp(a, b) == 0;
}

SPBasicSuite basicSuite = {AcquireSuite, ReleaseSuite, IsEqual, nullptr, nullptr, nullptr, nullptr};

}  // namespace

ControlSurfaceHost& ControlSurfaceHost::Instance() {
  static ControlSurfaceHost* host = new ControlSurfaceHost;  // plug-in threads may outlive main
  return *host;
}

SPBasicSuite* ControlSurfaceHost::Basic() {
  return &basicSuite;
}

ControlSurfaceHostRef ControlSurfaceHost::HostRef() {
  return reinterpret_cast<ControlSurfaceHostRef>(this);
}

void ControlSurfaceHost::SetLogSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> lock(lock_);
  sink_ = std::move(sink);
}

void ControlSurfaceHost::SetMissingSuites(std::set<std::string> names) {
  std::lock_guard<std::mutex> lock(lock_);
  missing_ = std::move(names);
}

bool ControlSurfaceHost::IsMissing(const char* name) const {
  std::lock_guard<std::mutex> lock(lock_);
  return missing_.count(name) != 0;
}

void ControlSurfaceHost::SetCommandResult(SPErr result) {
  commandResult_.store(result);
}

void ControlSurfaceHost::SetCommandCount(uint32_t count) {
  commandCount_.store(count);
}

void ControlSurfaceHost::SetPlayState(uint8_t state) {
  ChangePlayState(state, "set");
}

void ControlSurfaceHost::HoldCommands(bool hold) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    holdCommands_ = hold;
  }
  commandsReleased_.notify_all();
}

void ControlSurfaceHost::WaitWhileCommandsHeld() {
  std::unique_lock<std::mutex> lock(lock_);
  commandsReleased_.wait(lock, [this] { return !holdCommands_; });
}

std::vector<HostCall> ControlSurfaceHost::Calls() const {
  std::lock_guard<std::mutex> lock(lock_);
  return calls_;
}

void ControlSurfaceHost::ClearCalls() {
  std::lock_guard<std::mutex> lock(lock_);
  calls_.clear();
}

void ControlSurfaceHost::Say(const std::string& line) const {
  std::lock_guard<std::mutex> lock(lock_);
  if (sink_)
    sink_(line);
}

void ControlSurfaceHost::Record(const char* suite, const char* name, std::string detail) {
  Say(std::string("host: ") + suite + " " +
      (std::strcmp(suite, "command") == 0 ? detail : name + (detail.empty() ? "" : " " + detail)));
  std::lock_guard<std::mutex> lock(lock_);
  calls_.push_back({suite, name, std::move(detail), std::this_thread::get_id()});
}

void ControlSurfaceHost::ChangePlayState(uint8_t state, const char* why) {
  const uint8_t was = playState_.exchange(state);
  if (was != state)
    Say("host: play state " + std::to_string(was) + " → " + std::to_string(state) + " (" + why +
        ")");
}

void ControlSurfaceHost::RunCommand(const std::string&, const std::string& id) {
  if (id == "cmd.monitor.playstoptoggle")
    ChangePlayState(PlayState() == 1 ? 0 : 1, id.c_str());
  else if (id == "cmd.transport.play.ctitoout")
    ChangePlayState(1, id.c_str());
}

const void* ControlSurfaceHost::FindPublishedSuite(SPSuiteListRef list, const std::string& name,
                                                   int32_t version) const {
  return FindInSuiteList(list, name, version);
}

struct CtrlHostSession::Module {
  std::unique_ptr<LoadedModule> loaded;
};

CtrlHostSession::CtrlHostSession() = default;

CtrlHostSession::~CtrlHostSession() {
  Stop();
}

bool CtrlHostSession::Start(const std::string& path, std::string* error) {
  module_ = std::make_unique<Module>();
  module_->loaded = LoadedModule::Open(path, error);
  if (!module_->loaded)
    return false;
  auto entry = reinterpret_cast<ControlSurfaceEntryPointFn>(module_->loaded->Symbol("EntryPoint"));
  if (entry == nullptr) {
    *error = "EntryPoint is not exported";
    return false;
  }
  ControlSurfaceHost& host = ControlSurfaceHost::Instance();
  const SPErr entryResult = entry(host.Basic(), 1, 0, 1, &funcs_);
  host.Say("host: EntryPoint -> " + std::to_string(entryResult));
  if (entryResult != kSPNoError || funcs_.Startup == nullptr) {
    *error = "EntryPoint failed";
    return false;
  }
  startupResult_ = funcs_.Startup();
  host.Say("host: Startup -> " + std::to_string(startupResult_));
  started_ = true;
  if (startupResult_ != kSPNoError) {
    *error = "Startup failed";
    return false;
  }
  funcs_.GetSuiteList(&suiteList_);
  pluginSuite_ = static_cast<const ADOBESDK_ControlSurfacePluginSuite1*>(
      host.FindPublishedSuite(suiteList_, kControlSurfacePluginSuiteName, 1));
  if (pluginSuite_ == nullptr) {
    *error = "the plug-in suite is not published";
    return false;
  }
  return true;
}

bool CtrlHostSession::Connect(std::string* error) {
  ControlSurfaceHost& host = ControlSurfaceHost::Instance();
  if (instance_ == nullptr && funcs_.CreatePluginInstance(&instance_) != kSPNoError) {
    *error = "CreatePluginInstance failed";
    return false;
  }
  const SPErr r = pluginSuite_->Connect(instance_, host.HostRef(), &surface_);
  host.Say("host: Connect -> " + std::to_string(r));
  if (r != kSPNoError) {
    *error = "Connect failed";
    return false;
  }
  return true;
}

void CtrlHostSession::Disconnect() {
  if (instance_ != nullptr && pluginSuite_ != nullptr) {
    pluginSuite_->Disconnect(instance_);
    surface_ = nullptr;
  }
}

void CtrlHostSession::Stop(bool unload) {
  if (!started_)
    return;
  started_ = false;
  if (instance_ != nullptr) {
    funcs_.DeletePluginInstance(instance_);
    instance_ = nullptr;
    surface_ = nullptr;
  }
  funcs_.Shutdown();
  ControlSurfaceHost::Instance().Say("host: control surface shut down");
  if (unload)
    module_->loaded.reset();
  else
    module_->loaded->KeepMappedUntilExit();
}

void* CtrlHostSession::Symbol(const char* name) const {
  return module_ && module_->loaded ? module_->loaded->Symbol(name) : nullptr;
}

std::string ResolveCtrlPath(const std::string& ctrlOption, const std::string& pluginPath) {
  if (ctrlOption != "auto")
    return ctrlOption;
  return (std::filesystem::path(pluginPath).parent_path() / "SorvaneCtrl.acsrf").string();
}

}  // namespace Sorvane::hostsim
