#pragma once
#include <optional>
#include <string>
#include <vector>

#include "sv-host/host_driver.h"
#include "sv-host/test_encoder.h"

namespace Sorvane::hostsim {

struct CommandLine {
  HostRunOptions run;
  std::string hostName;  // run as if the host executable had this name
  // mode "sync" or "async": register the test encoder transform first; empty mode: none.
  TestEncoderRequest testEncoder;
  std::string profileDir;  // a profile of the run's own (state, logs, dumps); empty: the user's
  bool help = false;
};

// Parses the simulator's arguments (without argv[0]); nullopt with `error` set on a bad one.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string* error);

// The arguments again, without --host-name (what the renamed copy is started with).
std::vector<std::string> WithoutHostName(const std::vector<std::string>& args);

const char* UsageText();

}  // namespace Sorvane::hostsim
