#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "encoder/engine_catalog.h"

namespace Sorvane {
namespace {

using namespace std::chrono_literals;

// An enumeration that takes as long as the test says: each call waits for its own release.
class SlowEnumeration {
 public:
  std::vector<EncoderEngine> operator()() {
    std::unique_lock<std::mutex> lock(mutex_);
    const int call = ++calls_;
    threads_.push_back(std::this_thread::get_id());
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_ >= call; });
    return {{"software", "call " + std::to_string(call), ""}};
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++released_;
    changed_.notify_all();
  }
  bool WaitForCalls(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return calls_ >= n; });
  }
  int Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::thread::id ThreadOf(int call) {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_.at(static_cast<size_t>(call - 1));
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int calls_ = 0;
  int released_ = 0;
  std::vector<std::thread::id> threads_;
};

std::string LabelOf(const std::optional<std::vector<EncoderEngine>>& list) {
  return list && !list->empty() ? list->front().label : "none";
}

TEST(EngineCatalog, EnumeratesOffTheCallersThreadOnceAndServesTheLastListWhileRefreshing) {
  SlowEnumeration slow;
  EngineCatalog catalog([&] { return slow(); });
  catalog.Prefetch();  // returns while the enumeration is still running
  ASSERT_TRUE(slow.WaitForCalls(1));
  EXPECT_NE(slow.ThreadOf(1), std::this_thread::get_id());
  EXPECT_EQ(LabelOf(catalog.List(0ms)), "none") << "nothing to serve before the first fill";
  slow.Release();
  EXPECT_EQ(LabelOf(catalog.List(10s)), "call 1");
  catalog.Prefetch();
  EXPECT_EQ(LabelOf(catalog.List(0ms)), "call 1");
  EXPECT_EQ(slow.Calls(), 1) << "kept, not made again";

  // Refreshes asked for while one runs are served by one more fill, not one each.
  catalog.Refresh();
  ASSERT_TRUE(slow.WaitForCalls(2));
  catalog.Refresh();
  catalog.Refresh();
  EXPECT_EQ(LabelOf(catalog.List(0ms)), "call 1") << "the old list meanwhile, at once";
  slow.Release();
  ASSERT_TRUE(slow.WaitForCalls(3));
  slow.Release();
  for (int i = 0; i < 1000 && LabelOf(catalog.List(0ms)) != "call 3"; ++i)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(LabelOf(catalog.List(0ms)), "call 3");
  EXPECT_EQ(slow.Calls(), 3);
}

}  // namespace
}  // namespace Sorvane
