#include "ctrl/worker_threads.h"

#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace Sorvane::ctrl {
namespace {

struct Worker {
  std::thread thread;
  std::atomic<bool> done{false};
};

class Workers final : public StopSignal {
 public:
  bool SleepFor(int64_t ns) const override {
    std::unique_lock<std::mutex> lock(lock_);
    stopWake_.wait_for(lock, std::chrono::nanoseconds(ns), [this] { return stopping_; });
    return !stopping_;
  }

  bool Start(ThreadGuard& guard, WorkerBody body) {
    std::lock_guard<std::mutex> lock(lock_);
    if (stopping_)
      return false;
    JoinFinished();
    auto& worker = workers_.emplace_back(std::make_unique<Worker>());
    Worker* w = worker.get();
    try {
      w->thread = std::thread([this, w, &guard, body = std::move(body)] {
        guard.Run([&] { body(*this); });
        w->done.store(true);
      });
    } catch (...) {
      workers_.pop_back();  // no thread to join later
      throw;
    }
    return true;
  }

  void StopAndJoin() {
    std::list<std::unique_ptr<Worker>> running;
    {
      std::lock_guard<std::mutex> lock(lock_);
      stopping_ = true;
      running.swap(workers_);
    }
    stopWake_.notify_all();
    for (auto& w : running)
      w->thread.join();
    std::lock_guard<std::mutex> lock(lock_);
    stopping_ = false;  // a later Startup may run the threads again
  }

 private:
  void JoinFinished() {
    for (auto it = workers_.begin(); it != workers_.end();) {
      if ((*it)->done.load()) {
        (*it)->thread.join();
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
  }

  mutable std::mutex lock_;
  mutable std::condition_variable stopWake_;
  bool stopping_ = false;                       // guarded by lock_
  std::list<std::unique_ptr<Worker>> workers_;  // guarded by lock_
};

Workers& TheWorkers() {
  static Workers* workers = new Workers;  // never destroyed: threads may still read it at exit
  return *workers;
}

}  // namespace

bool StartWorker(ThreadGuard& guard, WorkerBody body) {
  return TheWorkers().Start(guard, std::move(body));
}

void StopAndJoinWorkers() {
  TheWorkers().StopAndJoin();
}

}  // namespace Sorvane::ctrl
