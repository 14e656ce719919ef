// transitions.csv: one row per encoder transition, beside the debug-topic logs.
#include <filesystem>
#include <fstream>
#include <locale>
#include <mutex>
#include <system_error>

#include "base/clock.h"
#include "diag/log.h"
#include "host/encoder_pipeline.h"

namespace Sorvane {
namespace {

void WriteDuration(std::ofstream& out, double ms) {
  if (ms >= 0)
    out << ms;
  out << ',';
}

}  // namespace

void WriteTransitionRow(const char* mode, int fromW, int fromH, int toW, int toH, double cloneMs,
                        double firstKeyMs, double swapMs, double totalMs, int framesDropped,
                        const char* error) {
  static std::mutex rowLock;
  std::lock_guard<std::mutex> lock(rowLock);
  const std::filesystem::path folder = LogFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const std::filesystem::path file = folder / "transitions.csv";
  const bool existed = std::filesystem::exists(file, ec);
  std::ofstream out(file, std::ios::app | std::ios::binary);
  if (!out)
    return;
  out.imbue(std::locale::classic());  // a host's global locale must not put commas in numbers
  if (!existed) {
    out << "ts,mode,fromW,fromH,toW,toH,cloneMs,firstKeyMs,swapMs,totalMs,framesDropped,error\n";
  }
  out << SteadyNowNs() / 1'000'000 << ',' << mode << ',' << fromW << ',' << fromH << ',' << toW
      << ',' << toH << ',';
  WriteDuration(out, cloneMs);
  WriteDuration(out, firstKeyMs);
  WriteDuration(out, swapMs);
  out << totalMs << ',' << framesDropped << ',' << (error ? error : "") << '\n';
}

}  // namespace Sorvane
