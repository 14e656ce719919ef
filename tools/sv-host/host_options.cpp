#include "sv-host/host_options.h"

#include <cstdio>
#include <cstdlib>

namespace Sorvane::hostsim {
namespace {

bool ParseSize(const std::string& text, int* w, int* h) {
  return std::sscanf(text.c_str(), "%dx%d", w, h) == 2 && *w > 0 && *h > 0;
}

bool ParseNumber(const std::string& text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0';
}

}  // namespace

const char* UsageText() {
  return "usage: sv-host --plugin PATH [options]\n"
         "Loads a transmit plug-in module through xTransmitEntry and drives it like the host:\n"
         "Startup, CreateInstance, QueryVideoMode, activation, then pushes a moving test scene\n"
         "(with a frame index and push time in its top strip) and a 440 Hz tone in real time.\n"
         "  --plugin PATH          the module to load (Sorvane.prm)\n"
         "  --size WxH             frame size (default 1280x720)\n"
         "  --fps N                frame rate (default 30)\n"
         "  --seconds S            how long to push (default 10)\n"
         "  --resize-to WxH        change the source size mid-run ...\n"
         "  --resize-at S          ... at this many seconds\n"
         "  --pause-at S           stop pushing at this many seconds, as a paused host does ...\n"
         "  --pause-for S          ... for this long (default 4), then push on\n"
         "  --no-audio             push no audio\n"
         "  --ctrl PATH|auto       also load the control-surface plug-in (auto: SorvaneCtrl.acsrf\n"
         "                         beside --plugin) and play its host: transport, commands, play\n"
         "                         state\n"
         "  --source FILE          push a video file's pictures (scaled to --size, else its own\n"
         "                         size, at its own rate unless --fps) and sound, looping\n"
         "  --interface-version N  transmit interface version announced to the module (default 4)\n"
         "  --host-name NAME       run as if the host executable were NAME\n"
         "                         (e.g. \"Adobe Premiere Pro.exe\")\n"
         "  --setup                open the plug-in's setup dialog (on Linux: the pairing QR\n"
         "                         code and URL, then the status rows once a second)\n"
         "  --test-encoder MODE    sync or async (Windows build, test use only): register the\n"
         "                         test H.264 encoder transform before loading the plug-in and\n"
         "                         set the install's asynchronous-encoder switch to match; it\n"
         "                         behaves like a vendor encoder (keeps its input, static\n"
         "                         properties, typed quantiser)\n"
         "  --encoder-latency N    with --test-encoder: N frames in flight (default 0)\n"
         "  --session-limit        with --test-encoder: one streaming session at a time\n"
         "  --lose-device-at K     with --test-encoder: the device is lost at frame K\n"
         "  --playing              the control-surface host is playing from the start\n"
         "  --unload               after the run, unload the modules (FreeLibrary / dlclose) and\n"
         "                         carry on for 3 s, as a host does at quit or on a rescan\n"
         "  --profile DIR          keep the plug-ins' state, logs and crash dumps in DIR/roaming\n"
         "                         and DIR/local instead of the user's folders\n"
         "  --help                 this text\n"
         "exit codes: 0 streamed, 1 failure, 2 module not loaded, 3 instance dormant (no "
         "encoder)\n";
}

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string* error) {
  CommandLine cmd;
  auto& run = cmd.run;
  bool encoderShaped = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size())
        return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    double number = 0;
    if (a == "--help" || a == "-h") {
      cmd.help = true;
    } else if (a == "--setup") {
      cmd.run.setup = true;
    } else if (a == "--playing") {
      run.playing = true;
    } else if (a == "--unload") {
      run.unload = true;
    } else if (a == "--no-audio") {
      run.audio = false;
    } else if (a == "--plugin" && value(&v)) {
      run.pluginPath = v;
    } else if (a == "--ctrl" && value(&v)) {
      run.ctrlPath = v;
    } else if (a == "--host-name" && value(&v)) {
      cmd.hostName = v;
    } else if (a == "--size" && value(&v) && ParseSize(v, &run.width, &run.height)) {
      run.sizeGiven = true;
    } else if (a == "--source" && value(&v)) {
      run.sourcePath = v;
    } else if (a == "--resize-to" && value(&v) &&
               ParseSize(v, &run.resizeWidth, &run.resizeHeight)) {
    } else if (a == "--fps" && value(&v) && ParseNumber(v, &number) && number >= 1) {
      run.fps = static_cast<int>(number);
      run.fpsGiven = true;
    } else if (a == "--seconds" && value(&v) && ParseNumber(v, &number) && number >= 0) {
      run.seconds = number;
    } else if (a == "--resize-at" && value(&v) && ParseNumber(v, &number) && number >= 0) {
      run.resizeAtSeconds = number;
    } else if (a == "--interface-version" && value(&v) && ParseNumber(v, &number)) {
      run.interfaceVersion = static_cast<int>(number);
    } else if (a == "--profile" && value(&v) && !v.empty()) {
      cmd.profileDir = v;
    } else if (a == "--pause-at" && value(&v) && ParseNumber(v, &number) && number >= 0) {
      run.pauseAtSeconds = number;
    } else if (a == "--pause-for" && value(&v) && ParseNumber(v, &number) && number > 0) {
      run.pauseForSeconds = number;
    } else if (a == "--test-encoder" && value(&v) && IsTestEncoderMode(v)) {
      cmd.testEncoder.mode = v;
    } else if (a == "--encoder-latency" && value(&v) && ParseNumber(v, &number) && number >= 0) {
      cmd.testEncoder.latencyFrames = static_cast<int>(number);
      encoderShaped = true;
    } else if (a == "--session-limit") {
      cmd.testEncoder.sessionLimit = true;
      encoderShaped = true;
    } else if (a == "--lose-device-at" && value(&v) && ParseNumber(v, &number) && number >= 1) {
      cmd.testEncoder.loseDeviceAtFrame = static_cast<int>(number);
      encoderShaped = true;
    } else {
      if (error)
        *error = "bad or incomplete argument: " + a;
      return std::nullopt;
    }
  }
  if (!cmd.help && run.pluginPath.empty()) {
    if (error)
      *error = "--plugin PATH is required";
    return std::nullopt;
  }
  if (encoderShaped && cmd.testEncoder.mode.empty()) {
    if (error)
      *error = "--encoder-latency, --session-limit and --lose-device-at need --test-encoder";
    return std::nullopt;
  }
  if (run.pauseAtSeconds >= 0 && run.pauseForSeconds <= 0)
    run.pauseForSeconds = 4;
  return cmd;
}

std::vector<std::string> WithoutHostName(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--host-name") {
      ++i;
      continue;
    }
    out.push_back(args[i]);
  }
  return out;
}

}  // namespace Sorvane::hostsim
