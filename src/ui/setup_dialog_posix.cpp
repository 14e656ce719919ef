// No windowing on Linux: the setup view is the pairing QR code and URL drawn on the host's
// standard output, then the status rows once a second until the module shuts down.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "diag/crash_handler.h"
#include "diag/log.h"
#include "diag/log_channels.h"
#include "net/shared_transport.h"
#include "store/install_identity.h"
#include "ui/pairing_url.h"
#include "ui/qr_code.h"
#include "ui/qr_terminal.h"
#include "ui/setup_dialog.h"
#include "ui/setup_status_source.h"

namespace Sorvane {
namespace {

constexpr int kTerminalQuietZone = 4;

class SetupConsole {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(lock_);
    if (thread_.joinable()) {
      Log(channels::kSetupDialog, kLogInfo, "SetupDialog: the terminal view is already open");
      return;
    }
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
  }

  void Close() {
    std::thread finished;
    {
      std::lock_guard<std::mutex> lock(lock_);
      stop_ = true;
      finished = std::move(thread_);
    }
    wake_.notify_all();
    if (finished.joinable())
      finished.join();
  }

 private:
  void Run() {
    PrepareThreadForCrashes();
    Log(channels::kSetupDialog, kLogInfo, "SetupDialog: terminal view on standard output");
    PrintPairingCode();
    std::unique_lock<std::mutex> lock(lock_);
    for (int tick = 0; !stop_; ++tick) {
      lock.unlock();
      PrintStatus(tick);
      lock.lock();
      wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; });
    }
  }

  static void PrintStatus(int tick) {
    SharedTransport& transport = SharedTransport::Instance();
    const std::string rows = SetupStatusReport(
        ReadStreamStatus(transport), EnumerateIPv4Interfaces(), transport.Network().ControlPort());
    std::printf("--- setup status (%d s)\n%s", tick, rows.c_str());
    std::fflush(stdout);
  }

  static void PrintPairingCode() {
    const std::string url = BuildPairingUrl(installid::LoadOrCreate());
    const QrCode qr = QrEncodeText(url);
    if (qr.size == 0)
      std::printf("setup: the pairing URL is too long for a QR code (%zu bytes)\n", url.size());
    // Dark modules on a light ground whatever the terminal's own colours are.
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    const char* begin = terminal ? "\x1b[30;107m" : "";
    const char* end = terminal ? "\x1b[0m" : "";
    for (const std::string& line : QrTerminalLines(qr, kTerminalQuietZone))
      std::printf("%s%s%s\n", begin, line.c_str(), end);
    std::printf("pairing URL: %s\n", url.c_str());
    std::fflush(stdout);
  }

  std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;   // guarded by lock_
  std::thread thread_;  // guarded by lock_
};

SetupConsole& Console() {
  static SetupConsole console;
  return console;
}

}  // namespace

void ShowSetupDialog() {
  Console().Open();
}

void CloseSetupDialog() {
  Console().Close();
}

}  // namespace Sorvane
