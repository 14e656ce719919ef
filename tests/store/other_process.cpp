#include "store/other_process.h"

#include <fstream>
#include <system_error>
#include <thread>

namespace Sorvane::test {

bool WaitForFile(const std::filesystem::path& file, std::chrono::milliseconds timeout, Poll poll) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::error_code ec;
  while (!std::filesystem::exists(file, ec)) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    if (poll == Poll::Spin)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void Signal(const std::filesystem::path& file) {
  std::ofstream{file};
}

}  // namespace Sorvane::test
