#include "sv-host/setup_console.h"

#include <chrono>
#include <vector>

#include "ui/qr_code.h"
#include "ui/qr_terminal.h"

namespace Sorvane::hostsim {
namespace {

using namespace std::chrono_literals;

constexpr int kTerminalQuietZone = 4;

std::string ReadText(size_t (*readOut)(char*, size_t)) {
  std::vector<char> buffer(readOut(nullptr, 0) + 1);
  readOut(buffer.data(), buffer.size());
  return buffer.data();
}

}  // namespace

SetupConsole::SetupConsole(std::ostream& out, bool colour) : out_(out), colour_(colour) {}

SetupConsole::~SetupConsole() {
  Stop();
}

bool SetupConsole::Start(const std::string& pluginPath, double seconds, std::string* error) {
  module_ = LoadedModule::Open(pluginPath, error);
  if (!module_)
    return false;
  pairingUrl_ = reinterpret_cast<ReadOut>(module_->Symbol("sv_transmit_pairing_url"));
  setupStatus_ = reinterpret_cast<ReadOut>(module_->Symbol("sv_transmit_setup_status"));
  if (!pairingUrl_ || !setupStatus_) {
    *error = "the module exports no setup read-outs";
    return false;
  }
  PrintPairingCode();
  thread_ = std::thread([this, seconds] { PrintStatusLoop(seconds); });
  return true;
}

void SetupConsole::Stop() {
  stop_ = true;
  if (thread_.joinable())
    thread_.join();
}

void SetupConsole::PrintPairingCode() {
  const std::string url = ReadText(pairingUrl_);
  const QrCode qr = QrEncodeText(url);
  if (qr.size == 0) {
    out_ << "sv-host setup: the pairing URL is too long for a QR code (" << url.size()
         << " bytes)\n";
  }
  // Black ink on a white ground whatever the terminal's colours are.
  const char* begin = colour_ ? "\x1b[30;107m" : "";
  const char* end = colour_ ? "\x1b[0m" : "";
  for (const std::string& line : QrTerminalLines(qr, kTerminalQuietZone))
    out_ << begin << line << end << "\n";
  out_ << "pairing URL: " << url << "\n" << std::flush;
}

void SetupConsole::PrintStatusLoop(double seconds) {
  const auto start = std::chrono::steady_clock::now();
  const auto limit = start + std::chrono::duration<double>(seconds);
  for (int tick = 0; !stop_; ++tick) {
    const auto due = start + tick * 1s;
    while (!stop_ && std::chrono::steady_clock::now() < due)
      std::this_thread::sleep_for(20ms);
    if (stop_ || due > limit)
      break;
    out_ << "--- setup status (" << tick << " s)\n" << ReadText(setupStatus_) << std::flush;
  }
}

}  // namespace Sorvane::hostsim
