#include "encoder/encoder_description.h"

#include <mutex>

namespace Sorvane {
namespace {

std::mutex& DescriptionLock() {
  static std::mutex lock;
  return lock;
}

std::string& Description() {  // guarded by DescriptionLock()
  static std::string description;
  return description;
}

}  // namespace

std::string CurrentEncoderDescription() {
  std::lock_guard<std::mutex> lock(DescriptionLock());
  return Description();
}

void SetCurrentEncoderDescription(const std::string& description) {
  std::lock_guard<std::mutex> lock(DescriptionLock());
  Description() = description;
}

}  // namespace Sorvane
