#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sv-receiver/lib/link_weather.h"

namespace Sorvane::receiver {

// The settings the receiver asks for, like the phone app: one snapshot after pairing, then any
// single commands given on the command line.
struct ReceiverOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 47130;
  uint16_t videoPort = 47101;
  uint16_t audioPort = 47102;
  std::string id = "sv-receiver-0001";
  std::string name = "sv-receiver";
  std::string tokenFile;  // default: the user's state folder
  std::string code;
  std::string codeFromLog;
  double seconds = 10;
  bool verbose = false;
  std::string summaryJson;
  std::string outDir;
  std::string referenceFile;  // the host's --source file, the PSNR reference
  double snapshotEverySeconds = 1;
  double dropRate = 0;
  uint32_t seed = 1;
  std::optional<LinkProfile> link;  // the weather of the link, ahead of reassembly
  bool sendSnapshot = true;
  // Snapshot fields (H.264, Short-GOP, Quality, no engine unless given).
  uint16_t maxRes = 0;
  uint8_t codec = 1;
  uint8_t gopMode = 1;
  uint8_t rateControl = 1;
  uint8_t quality = 70;
  std::string engine;
  // The settings as single commands (sent instead of the snapshot with --no-snapshot).
  std::vector<std::vector<uint8_t>> settingCommands;
  // Commands sent after the settings, in order (opcode and payload).
  std::vector<std::vector<uint8_t>> commands;
  bool help = false;
  // Find the plug-in by DNS-SD instead of --host/--port (the first, or the one named).
  bool discover = false;
  std::string discoverName;
  bool list = false;        // only print what a browse finds
  double watchSeconds = 0;  // with list: print every change of the entries for this long
  bool preview = false;     // show the decoded video in a window
};

std::optional<ReceiverOptions> ParseReceiverOptions(const std::vector<std::string>& args,
                                                    std::string* error);
const char* ReceiverUsage();
// The default token file: <state folder>/sv-receiver/token-<port>.txt.
std::string DefaultTokenFile(uint16_t port);

}  // namespace Sorvane::receiver
