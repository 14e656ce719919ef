#pragma once
// What a registration shares with the transform instances it creates.
#include <atomic>
#include <mutex>

#include "support/test_transform/test_transform.h"

namespace Sorvane::test {

struct TestTransformRegistration::Slot {
  int index = 0;
  std::wstring name;
  TestTransformState state;

  // Options are read per step, so a test can change failures and delays mid-run.
  TestTransformOptions Options() const {
    std::lock_guard<std::mutex> lock(optionsMutex);
    return options;
  }
  mutable std::mutex optionsMutex;
  TestTransformOptions options;  // guarded by optionsMutex

  // Over every instance of the registration.
  std::atomic<int> inputsTaken{0};      // frames handed to any instance
  std::atomic<bool> deviceLost{false};  // loseDeviceAtFrame has happened
  std::atomic<int> streaming{0};        // instances between BEGIN_STREAMING and its end
};

using TransformSlot = TestTransformRegistration::Slot;

// Process-wide counters (all registrations).
void CountInstanceCreated(bool async);
void CountInstanceDestroyed();
void CountShutdown();

}  // namespace Sorvane::test
