#pragma once
#include <ostream>

#include "sv-host/ctrl_host.h"
#include "sv-host/host_driver.h"

namespace Sorvane::hostsim {

// sv-host's control-surface side: loads and connects the control-surface plug-in when asked,
// logs what it asks of the host, and shuts it down before the transmit plug-in.
class CtrlHostRun {
 public:
  CtrlHostRun(const HostRunOptions& options, std::ostream& progress, HostRunReport& report);
  // Shuts the surface down; with `unload`, frees its module too.
  void Finish(bool unload);

 private:
  std::ostream& progress_;
  HostRunReport& report_;
  CtrlHostSession session_;
  bool running_ = false;
};

}  // namespace Sorvane::hostsim
