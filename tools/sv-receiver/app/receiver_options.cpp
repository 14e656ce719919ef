#include "sv-receiver/app/receiver_options.h"

#include <cstdlib>
#include <map>

#include "net/wire_opcodes.h"

namespace Sorvane::receiver {
namespace {

bool ToNumber(const std::string& text, double* out) {
  char* end = nullptr;
  *out = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0';
}

const std::map<std::string, uint8_t> kTransport = {
    {"play", 0},    {"step-fwd", 1}, {"step-back", 2},   {"step-fwd5", 3},    {"step-back5", 4},
    {"goto-in", 5}, {"goto-out", 6}, {"shuttle-rev", 7}, {"shuttle-stop", 8}, {"shuttle-fwd", 9}};

bool ParseRateControl(const std::string& text, ReceiverOptions& o) {
  const size_t colon = text.find(':');
  const std::string mode = text.substr(0, colon);
  if (mode == "bitrate") {
    o.rateControl = 0;
  } else if (mode == "quality") {
    o.rateControl = 1;
  } else if (mode == "vbr") {
    o.rateControl = 2;
  } else {
    return false;
  }
  if (colon == std::string::npos) {
    o.settingCommands.push_back({wire::kSetEncoderMode, o.rateControl, o.quality});
  } else {
    double q = 0;
    if (!ToNumber(text.substr(colon + 1), &q) || q < 0 || q > 100)
      return false;
    o.quality = static_cast<uint8_t>(q);
    o.commands.push_back({wire::kSetEncoderMode, o.rateControl, o.quality});
  }
  return true;
}

}  // namespace

std::string DefaultTokenFile(uint16_t port) {
  std::string base;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
    base = state;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.local/state";
  } else {
    base = ".";
  }
  return base + "/sv-receiver/token-" + std::to_string(port) + ".txt";
}

const char* ReceiverUsage() {
  return "usage: sv-receiver [options]\n"
         "The reference client: connects to the plug-in's control port, pairs (stored token or\n"
         "six-digit code), sends its settings, receives and reassembles the media datagrams,\n"
         "decodes the video and writes what it saw.\n"
         "  --host ADDR              plug-in address (default 127.0.0.1)\n"
         "  --port N                 control port (default 47130, the unknown-host port)\n"
         "  --discover[=NAME]        find the plug-in by DNS-SD (_sorvane._tcp, up to 5 s) and\n"
         "                           connect to the first service, or the one whose instance or\n"
         "                           TXT name is NAME, instead of --host/--port\n"
         "  --list                   only print the _sorvane._tcp services found\n"
         "  --list --watch S         for S seconds, print one line per change of the entries:\n"
         "                           time, appeared / changed (with the TXT values) or\n"
         "                           disappeared, and the entry's name; then the counts\n"
         "  --video-port N / --audio-port N   local media ports (default 47101 / 47102)\n"
         "  --id ID / --name NAME    this client's id and display name\n"
         "  --token-file PATH        stored pairing token (default in the user's state folder)\n"
         "  --code NNNNNN            answer a code request with this code\n"
         "  --code-from-log PATH     read the code from the plug-in's log (\"pair: challenge=\")\n"
         "                           (without --code or --code-from-log the code is asked for)\n"
         "  --seconds S              how long to receive (default 10)\n"
         "  --codec h264|hevc        --gop all-intra|short|long   --max-res N\n"
         "  --rc bitrate|quality|vbr[:Q]   --engine ID   --idr   --transport CMD\n"
         "                           (play step-fwd step-back step-fwd5 step-back5 goto-in\n"
         "                            goto-out shuttle-rev shuttle-stop shuttle-fwd)\n"
         "  --no-snapshot            do not send the settings snapshot after pairing\n"
         "  --out DIR                write snapshots, the stream, audio.wav, summary.json\n"
         "  --snapshot-every S       seconds between PNG snapshots (default 1)\n"
         "  --reference FILE         the video file sv-host pushes (--source): PSNR against it\n"
         "                           instead of the test scene\n"
         "  --drop-rate R            drop received datagrams at random (0..1) to exercise parity\n"
         "  --link wifi|congested|SPEC   the weather of a real link, applied to what arrives:\n"
         "                           bursty loss (Gilbert-Elliott), a delay whose spread\n"
         "                           reorders datagrams, and a rate policer that drops what\n"
         "                           exceeds the rate. wifi: 1 % loss in bursts of 2, 2 ms ± 2 "
         "ms,\n"
         "                           100 Mbit/s; congested: 3 % in bursts of 3, 2 ms ± 2 ms,\n"
         "                           30 Mbit/s. SPEC: a profile and/or key=value pairs joined by\n"
         "                           commas: loss=%, burst=datagrams, delay=ms, jitter=ms,\n"
         "                           rate=Mbit/s (0 = none), policer-burst=ms (default 50)\n"
         "  --seed N                 seed for --drop-rate and --link\n"
         "  --summary-json FILE      write the summary there (default <out>/summary.json)\n"
         "  --preview                show the decoded video live in a window (scaled to fit) with\n"
         "                           a status line (decoded fps, push-to-decoded latency median\n"
         "                           over the last second, frames lost / rebuilt by parity,\n"
         "                           codec and size); i toggles the line, Esc or closing the\n"
         "                           window ends the run; without a display it carries on\n"
         "                           without the window\n"
         "  --verbose                print every plug-in message\n"
         "exit code: 0 on a clean run, 1 bad arguments, 2 pairing failed, 3 connection lost,\n"
         "           4 nothing discovered (--list: 0 found something, 1 found nothing;\n"
         "           --list --watch: 1 when avahi-daemon cannot be reached or goes away)\n";
}

std::optional<ReceiverOptions> ParseReceiverOptions(const std::vector<std::string>& args,
                                                    std::string* error) {
  ReceiverOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string v;
    auto value = [&]() {
      if (i + 1 >= args.size())
        return false;
      v = args[++i];
      return true;
    };
    double n = 0;
    bool ok = true;
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if (a == "--no-snapshot") {
      o.sendSnapshot = false;
    } else if (a == "--idr") {
      o.commands.push_back({wire::kRequestIdr});
    } else if (a == "--preview") {
      o.preview = true;
    } else if (a == "--list") {
      o.list = true;
    } else if (a == "--discover" || a.rfind("--discover=", 0) == 0) {
      o.discover = true;
      o.discoverName = a.size() > 11 ? a.substr(11) : "";
    } else if (!value()) {
      ok = false;
    } else if (a == "--host") {
      o.host = v;
    } else if (a == "--port" || a == "--video-port" || a == "--audio-port") {
      ok = ToNumber(v, &n) && n > 0 && n < 65536;
      (a == "--port"         ? o.port
       : a == "--video-port" ? o.videoPort
                             : o.audioPort) = static_cast<uint16_t>(n);
    } else if (a == "--id") {
      o.id = v;
    } else if (a == "--name") {
      o.name = v;
    } else if (a == "--token-file") {
      o.tokenFile = v;
    } else if (a == "--code") {
      o.code = v;
      ok = v.size() == 6;
    } else if (a == "--code-from-log") {
      o.codeFromLog = v;
    } else if (a == "--watch") {
      ok = ToNumber(v, &o.watchSeconds) && o.watchSeconds > 0;
      o.list = true;
    } else if (a == "--seconds") {
      ok = ToNumber(v, &o.seconds) && o.seconds >= 0;
    } else if (a == "--summary-json") {
      o.summaryJson = v;
    } else if (a == "--out") {
      o.outDir = v;
    } else if (a == "--reference") {
      o.referenceFile = v;
    } else if (a == "--snapshot-every") {
      ok = ToNumber(v, &o.snapshotEverySeconds) && o.snapshotEverySeconds > 0;
    } else if (a == "--drop-rate") {
      ok = ToNumber(v, &o.dropRate) && o.dropRate >= 0 && o.dropRate < 1;
    } else if (a == "--link") {
      std::string why;
      o.link = ParseLinkProfile(v, &why);
      if (!o.link) {
        if (error)
          *error = "--link: " + why;
        return std::nullopt;
      }
    } else if (a == "--seed") {
      ok = ToNumber(v, &n);
      o.seed = static_cast<uint32_t>(n);
    } else if (a == "--codec") {
      ok = v == "h264" || v == "hevc";
      o.codec = v == "h264" ? 1 : 0;
      o.settingCommands.push_back({wire::kSetCodec, o.codec});
    } else if (a == "--gop") {
      ok = v == "all-intra" || v == "short" || v == "long";
      o.gopMode = v == "all-intra" ? 0 : (v == "short" ? 1 : 3);
      o.settingCommands.push_back({wire::kSetGopMode, o.gopMode});
    } else if (a == "--max-res") {
      ok = ToNumber(v, &n) && n >= 0 && n < 65536;
      o.maxRes = static_cast<uint16_t>(n);
      o.settingCommands.push_back({wire::kSetMaxResolution, static_cast<uint8_t>(o.maxRes),
                                   static_cast<uint8_t>(o.maxRes >> 8)});
    } else if (a == "--rc") {
      ok = ParseRateControl(v, o);
    } else if (a == "--engine") {
      o.engine = v;
      ok = !v.empty() && v.size() < 256;
      std::vector<uint8_t> payload = wire::ShortStringPayload(v);
      payload.insert(payload.begin(), wire::kSetEncoderEngine);
      o.settingCommands.push_back(std::move(payload));
    } else if (a == "--transport") {
      const auto it = kTransport.find(v);
      ok = it != kTransport.end();
      if (ok)
        o.commands.push_back({static_cast<uint8_t>(wire::kTransportCommandFirst + it->second)});
    } else {
      ok = false;
    }
    if (!ok) {
      if (error)
        *error = "bad or incomplete argument: " + a;
      return std::nullopt;
    }
  }
  if (o.tokenFile.empty())
    o.tokenFile = DefaultTokenFile(o.port);
  return o;
}

}  // namespace Sorvane::receiver
