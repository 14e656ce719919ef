#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "base/thread_annotations.h"
#include "encoder/encoder_factory.h"

namespace Sorvane {

// The engine list, enumerated on a thread of its own and kept: enumerating starts Media
// Foundation and probes the hardware encoders (or opens them, on Linux), far too slow for a
// host's render thread or for code holding a lock that thread takes.
class EngineCatalog {
 public:
  using Enumerate = std::function<std::vector<EncoderEngine>()>;

  explicit EngineCatalog(Enumerate enumerate);
  ~EngineCatalog();  // waits for a fill in progress
  EngineCatalog(const EngineCatalog&) = delete;
  EngineCatalog& operator=(const EngineCatalog&) = delete;

  // The process's catalog (EnumerateEngines); never destroyed, like the transport.
  static EngineCatalog& Process();

  // Starts the first fill unless one was started.
  void Prefetch();
  // Starts a new fill (the machine's encoders may have changed); the list in hand is served
  // until it is done.
  void Refresh();
  // The list of the last finished fill. Until the first one finishes, waits up to `wait` for it
  // (starting it if nobody did) and answers nothing when it takes longer.
  std::optional<std::vector<EncoderEngine>> List(std::chrono::milliseconds wait);

 private:
  void StartLocked() REQUIRES(lock_);
  void Fill();

  const Enumerate enumerate_;
  std::mutex lock_;
  std::condition_variable filled_;
  std::optional<std::vector<EncoderEngine>> engines_ GUARDED_BY(lock_);
  bool started_ GUARDED_BY(lock_) = false;
  bool filling_ GUARDED_BY(lock_) = false;
  bool again_ GUARDED_BY(lock_) = false;  // a refresh asked for while a fill ran
  std::thread worker_ GUARDED_BY(lock_);
};

}  // namespace Sorvane
