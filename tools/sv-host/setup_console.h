#pragma once
#include <atomic>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "sv-host/module_loader.h"

namespace Sorvane::hostsim {

// The setup view in a terminal: the pairing QR code and URL at start, then the plug-in's status
// rows once a second until stopped or `seconds` have passed.
class SetupConsole {
 public:
  SetupConsole(std::ostream& out, bool colour);
  ~SetupConsole();
  // False with `error` set when the module or its read-outs are missing.
  bool Start(const std::string& pluginPath, double seconds, std::string* error);
  void Stop();

 private:
  void PrintPairingCode();
  void PrintStatusLoop(double seconds);

  std::ostream& out_;
  const bool colour_;
  std::unique_ptr<LoadedModule> module_;
  using ReadOut = size_t (*)(char*, size_t);
  ReadOut pairingUrl_ = nullptr;
  ReadOut setupStatus_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Whether standard output is a terminal (colours are then forced so the code reads dark on light).
bool StdoutIsTerminal();

}  // namespace Sorvane::hostsim
