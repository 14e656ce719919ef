#pragma once
#include <cstdint>
#include <ostream>
#include <string>

namespace Sorvane::hostsim {

class FileSource;

struct HostRunOptions {
  std::string pluginPath;
  int width = 1280;
  int height = 720;
  int fps = 30;
  double seconds = 10;
  int interfaceVersion = 4;
  bool audio = true;
  // Optional mid-run change of the source size.
  int resizeWidth = 0;
  int resizeHeight = 0;
  double resizeAtSeconds = -1;
  // Optional pause: from pauseAtSeconds for pauseForSeconds nothing is pushed, as a host that
  // stops playing pushes nothing (no frame, no sound).
  double pauseAtSeconds = -1;
  double pauseForSeconds = 0;
  // Control-surface plug-in to load beside the transmit one ("auto": next to it); empty: none.
  std::string ctrlPath;
  // Open the plug-in's setup dialog once the instance exists (on Linux it draws the pairing code
  // and the status rows on standard output).
  bool setup = false;
  // Pictures and sound from a video file instead of the scene and tone.
  std::string sourcePath;
  bool sizeGiven = false;
  bool fpsGiven = false;
  // The control-surface host is playing from the start.
  bool playing = false;
  // After the run, unload the modules as a host does at quit or on a plug-in rescan (FreeLibrary
  // / dlclose), then go on for a while: whatever the plug-ins left running must not crash it.
  bool unload = false;
};

// What the host saw the plug-in do.
struct HostRunReport {
  bool loaded = false;
  std::string error;
  int startupResult = 0;
  std::string displayName;
  int32_t pluginInterfaceVersion = 0;
  int createResult = 0;
  int queryVideoModeResult = 0;
  int64_t latencyTicks = 0;
  uint64_t framesPushed = 0;  // also the frame index of the next one (the stamp it carries)
  uint64_t audioPushes = 0;
  // With a pause: the index of the first frame pushed after it, and how many followed it.
  uint64_t firstIndexAfterPause = 0;
  uint64_t framesPushedAfterPause = 0;
  int64_t framesCreated = 0;
  int64_t framesDisposed = 0;
  std::string ctrlStatus = "none";  // "connected", or why the control surface is not
  size_t ctrlHostCalls = 0;         // transport and command calls it made
};

// Drives one plug-in module the way the host does: load, entry, Startup, CreateInstance,
// QueryVideoMode, activation, timed pushes of the scene and tone (or of `source`, whose size
// `options` must carry), deactivation, disposal, unload.
HostRunReport RunHost(const HostRunOptions& options, std::ostream& progress,
                      FileSource* source = nullptr);

// The process exit code for a report: 0 streamed, 2 not loaded, 3 dormant instance, 1 otherwise.
int ExitCodeFor(const HostRunReport& report);

}  // namespace Sorvane::hostsim
