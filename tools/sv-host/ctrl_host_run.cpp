#include "sv-host/ctrl_host_run.h"

namespace Sorvane::hostsim {

CtrlHostRun::CtrlHostRun(const HostRunOptions& options, std::ostream& progress,
                         HostRunReport& report)
    : progress_(progress), report_(report) {
  if (options.ctrlPath.empty())
    return;
  const std::string path = ResolveCtrlPath(options.ctrlPath, options.pluginPath);
  progress_ << "sv-host: loading control surface " << path << "\n";
  if (options.playing)
    ControlSurfaceHost::Instance().SetPlayState(1);  // before the log sink: no change to report
  ControlSurfaceHost::Instance().SetLogSink([this](const std::string& line) {
    progress_ << line << "\n" << std::flush;
  });
  std::string error;
  if (!session_.Start(path, &error) || !session_.Connect(&error)) {
    report_.ctrlStatus = "failed";
    progress_ << "sv-host: control surface not connected: " << error << "\n";
    return;
  }
  report_.ctrlStatus = "connected";
  running_ = true;
}

void CtrlHostRun::Finish(bool unload) {
  if (!running_)
    return;
  running_ = false;
  session_.Stop(unload);
  report_.ctrlHostCalls = ControlSurfaceHost::Instance().Calls().size();
  ControlSurfaceHost::Instance().SetLogSink(nullptr);
}

}  // namespace Sorvane::hostsim
