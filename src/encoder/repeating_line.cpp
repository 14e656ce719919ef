#include "encoder/repeating_line.h"

namespace Sorvane {
namespace {

constexpr int64_t kSpacingNs = 1'000'000'000;

}  // namespace

bool RepeatingLine::Due(std::string* note) {
  const int64_t now = clock_.NowNs();
  std::lock_guard<std::mutex> lock(lock_);
  if (written_ && now - writtenAtNs_ < kSpacingNs) {
    ++leftOut_;
    return false;
  }
  note->clear();
  if (leftOut_ > 0)
    *note = " (" + std::to_string(leftOut_) + " more since the last one)";
  written_ = true;
  writtenAtNs_ = now;
  leftOut_ = 0;
  return true;
}

}  // namespace Sorvane
