#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include "diag/crash_handler.h"

namespace Sorvane {
namespace {

constexpr size_t kAltStackSize = 64 * 1024;

// This thread's alternate signal stack, with an inaccessible page below it so that a handler
// running out of room faults instead of writing over other memory.
class ThreadAltStack {
 public:
  ThreadAltStack() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0)
      return;  // the thread's owner gave it one already
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    size_ = kAltStackSize + page;
    void* memory =
        ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
      return;
    ::mprotect(memory, page, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(memory) + page;
    stack.ss_size = kAltStackSize;
    if (::sigaltstack(&stack, nullptr) != 0) {
      ::munmap(memory, size_);
      return;
    }
    memory_ = memory;
  }

  ~ThreadAltStack() {
    if (memory_ == nullptr)
      return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    ::munmap(memory_, size_);
  }

  ThreadAltStack(const ThreadAltStack&) = delete;
  ThreadAltStack& operator=(const ThreadAltStack&) = delete;

 private:
  void* memory_ = nullptr;
  size_t size_ = 0;
};

}  // namespace

void PrepareThreadForCrashes() {
  thread_local ThreadAltStack stack;
  (void)stack;
}

}  // namespace Sorvane
