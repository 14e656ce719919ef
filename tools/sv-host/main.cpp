// sv-host: the host simulator.
#include <iostream>

#include "sv-host/host_options.h"
#include "sv-host/run_profile.h"
#include "sv-host/self_reexec.h"
#include "sv-host/source_setup.h"
#include "sv-host/test_encoder.h"

using namespace Sorvane::hostsim;

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto cmd = ParseCommandLine(args, &error);
  if (!cmd) {
    std::cerr << "sv-host: " << error << "\n" << UsageText();
    return 1;
  }
  if (cmd->help) {
    std::cout << UsageText();
    return 0;
  }
  if (!cmd->hostName.empty()) {
    const auto code = RerunAs(cmd->hostName, WithoutHostName(args), &error);
    if (!code) {
      std::cerr << "sv-host: " << error << "\n";
      return 1;
    }
    return *code;
  }
  if (!cmd->profileDir.empty() && !UseRunProfile(cmd->profileDir, &error)) {
    std::cerr << "sv-host: " << error << "\n";
    return 1;
  }
  std::unique_ptr<TestEncoderSession> testEncoder;
  if (!cmd->testEncoder.mode.empty()) {
    testEncoder = StartTestEncoder(cmd->testEncoder, std::cout, &error);
    if (!testEncoder) {
      std::cerr << "sv-host: " << error << "\n";
      return 1;
    }
  }
  HostRunOptions run = cmd->run;
  std::unique_ptr<FileSource> source;
  if (!run.sourcePath.empty() && !(source = OpenRunSource(run, std::cout, &error))) {
    std::cerr << "sv-host: " << error << "\n";
    return 1;
  }
  std::cout << "sv-host: loading " << run.pluginPath << "\n";
  const HostRunReport report = RunHost(run, std::cout, source.get());
  if (!report.loaded) {
    std::cerr << "sv-host: could not load the plug-in: " << report.error << "\n";
  }
  std::cout << "sv-host summary: loaded=" << (report.loaded ? "yes" : "no")
            << " startup=" << report.startupResult << " create=" << report.createResult
            << " framesPushed=" << report.framesPushed << " audioPushes=" << report.audioPushes
            << " framesDisposed=" << report.framesDisposed << "/" << report.framesCreated
            << " ctrl=" << report.ctrlStatus << " ctrlHostCalls=" << report.ctrlHostCalls;
  if (run.pauseAtSeconds >= 0) {
    std::cout << " pause=" << run.pauseForSeconds << "s@" << run.pauseAtSeconds
              << "s firstAfterPause=" << report.firstIndexAfterPause
              << " framesAfterPause=" << report.framesPushedAfterPause;
  }
  std::cout << "\n";
  if (report.createResult == -4) {
    std::cout << "sv-host: the instance is dormant (no encoder); see the plug-in's log\n";
  }
  return ExitCodeFor(report);
}
