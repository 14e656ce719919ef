#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "ctrl/ctrl_log.h"
#include "ctrl/ui_dispatcher.h"
#include "diag/thread_guard.h"

namespace Sorvane::ctrl {
namespace {

unsigned long ThreadNumber() {
  return static_cast<unsigned long>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
}

class DispatcherThread {
 public:
  bool Install() {
    std::lock_guard<std::mutex> lock(lock_);
    if (thread_.joinable()) {
      Log(kCtrlChannel, kLogInfo, "ctrl: UI-dispatcher already installed");
      return true;
    }
    Log(kCtrlChannel, kLogInfo, "ctrl: Install on thread=%lu", ThreadNumber());
    stopping_ = false;
    thread_ = std::thread([this] {
      static ThreadGuard guard(kCtrlChannel, "ctrl: UI dispatcher");
      guard.Run([this] { Run(); });
    });
    Log(kCtrlChannel, kLogInfo, "ctrl: UI-dispatcher installed (dispatcher thread)");
    return true;
  }

  void TearDown() {
    std::thread thread;
    std::deque<UiTask> dropped;
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (!thread_.joinable())
        return;
      stopping_ = true;
      thread.swap(thread_);
    }
    wake_.notify_all();
    thread.join();
    {
      std::lock_guard<std::mutex> lock(lock_);
      dropped.swap(queue_);
    }
    Log(kCtrlChannel, kLogInfo, "ctrl: UI-dispatcher torn down");
  }

  bool Post(UiTask task) {
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (!thread_.joinable() || stopping_)
        return false;
      queue_.push_back(std::move(task));
    }
    wake_.notify_one();
    return true;
  }

 private:
  void Run() {
    for (;;) {
      UiTask task;
      {
        std::unique_lock<std::mutex> lock(lock_);
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_)
          return;
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      Log(kCtrlChannel, kLogInfo, "ctrl: dispatcher task on thread=%lu", ThreadNumber());
      try {
        task();
      } catch (...) {
        Log(kCtrlChannel, kLogError, "ctrl: UI-thread callable threw");
      }
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::thread thread_;        // guarded by lock_
  bool stopping_ = false;     // guarded by lock_
  std::deque<UiTask> queue_;  // guarded by lock_
};

DispatcherThread& Dispatcher() {
  static DispatcherThread* dispatcher = new DispatcherThread;
  return *dispatcher;
}

}  // namespace

bool InstallUiDispatcher() {
  return Dispatcher().Install();
}

void TearDownUiDispatcher() {
  Dispatcher().TearDown();
}

bool PostToUiThread(UiTask task) {
  return Dispatcher().Post(std::move(task));
}

}  // namespace Sorvane::ctrl
