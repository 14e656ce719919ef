#include "encoder/engine_catalog.h"

#include "diag/crash_handler.h"

namespace Sorvane {

EngineCatalog::EngineCatalog(Enumerate enumerate) : enumerate_(std::move(enumerate)) {}

EngineCatalog::~EngineCatalog() {
  std::thread worker;
  {
    std::lock_guard<std::mutex> lock(lock_);
    again_ = false;
    worker = std::move(worker_);
  }
  if (worker.joinable())
    worker.join();
}

void EngineCatalog::Prefetch() {
  std::lock_guard<std::mutex> lock(lock_);
  if (!started_)
    StartLocked();
}

void EngineCatalog::Refresh() {
  std::lock_guard<std::mutex> lock(lock_);
  StartLocked();
}

std::optional<std::vector<EncoderEngine>> EngineCatalog::List(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(lock_);
  if (!started_)
    StartLocked();
  filled_.wait_for(lock, wait, [this] { return engines_.has_value(); });
  return engines_;
}

void EngineCatalog::StartLocked() {
  started_ = true;
  if (filling_) {
    again_ = true;
    return;
  }
  filling_ = true;
  // The previous worker has left the lock for good; joining it here is immediate.
  if (worker_.joinable())
    worker_.join();
  worker_ = std::thread(&EngineCatalog::Fill, this);
}

void EngineCatalog::Fill() {
  PrepareThreadForCrashes();
  for (;;) {
    std::vector<EncoderEngine> engines = enumerate_();
    std::lock_guard<std::mutex> lock(lock_);
    engines_ = std::move(engines);
    filled_.notify_all();
    if (!again_) {
      filling_ = false;
      return;
    }
    again_ = false;
  }
}

}  // namespace Sorvane
