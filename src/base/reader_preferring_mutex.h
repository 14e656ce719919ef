#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Sorvane {

// A reader-writer lock on which readers wait only for an active writer, never for a waiting one.
// A thread that already holds it shared may therefore take it shared again (an encoder that
// delivers its output inside EncodeFrame, under its caller's shared lock, and whose output path
// reads the same state). Writers may wait longer under a steady stream of readers; in the encoder
// pipeline they are rare (a swap, an in-place reconfigure) and readers are short.
class ReaderPreferringSharedMutex {
 public:
  void lock() {
    std::unique_lock<std::mutex> guard(mutex_);
    writerDone_.wait(guard, [this] { return !writer_ && readers_ == 0; });
    writer_ = true;
  }
  void unlock() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      writer_ = false;
    }
    writerDone_.notify_all();
  }
  void lock_shared() {
    std::unique_lock<std::mutex> guard(mutex_);
    writerDone_.wait(guard, [this] { return !writer_; });
    ++readers_;
  }
  void unlock_shared() {
    bool last = false;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      last = --readers_ == 0;
    }
    if (last)
      writerDone_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable writerDone_;
  bool writer_ = false;   // guarded by mutex_
  uint32_t readers_ = 0;  // guarded by mutex_
};

}  // namespace Sorvane
