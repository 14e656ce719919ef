#include <atomic>
#include <cstring>

#include "support/test_transform/transform_slot.h"

namespace Sorvane::test {
namespace {

std::atomic<int> liveInstances{0};
std::atomic<int> createdInstances{0};
std::atomic<int> createdAsync{0};
std::atomic<int> shutdownCalls{0};

}  // namespace

void CountInstanceCreated(bool async) {
  ++liveInstances;
  ++createdInstances;
  if (async)
    ++createdAsync;
}

void CountInstanceDestroyed() {
  --liveInstances;
}

void CountShutdown() {
  ++shutdownCalls;
}

TransformCounters GlobalTransformCounters() {
  return TransformCounters{liveInstances.load(), createdInstances.load(), createdAsync.load(),
                           shutdownCalls.load()};
}

std::vector<PropertyChange> TestTransformState::PropertyLog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return properties_;
}

namespace {

std::optional<uint64_t> LastOf(const std::vector<PropertyChange>& changes, const GUID& property) {
  for (auto it = changes.rbegin(); it != changes.rend(); ++it)
    if (std::memcmp(&it->property, &property, sizeof(GUID)) == 0)
      return it->value;
  return std::nullopt;
}

}  // namespace

std::optional<uint64_t> TestTransformState::Property(const GUID& property) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return LastOf(properties_, property);
}

std::optional<uint64_t> TestTransformState::Accepted(const GUID& property) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return LastOf(accepted_, property);
}

std::optional<Nv12Image> TestTransformState::LastInput() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastInput_;
}

std::vector<FrameRecord> TestTransformState::Frames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

std::vector<uint32_t> TestTransformState::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

NegotiatedTypes TestTransformState::Types() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return types_;
}

bool TestTransformState::D3DManagerSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return d3dManagerSet_;
}

std::optional<LUID> TestTransformState::D3DAdapter() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return d3dAdapter_;
}

int TestTransformState::InstancesCreated() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return created_;
}

int TestTransformState::LiveInstances() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_;
}

int TestTransformState::ShutdownCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutdowns_;
}

int TestTransformState::ShortInputs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shortInputs_;
}

void TestTransformState::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  properties_.clear();
  accepted_.clear();
  lastInput_.reset();
  frames_.clear();
  messages_.clear();
  types_ = {};
  d3dManagerSet_ = false;
  d3dAdapter_.reset();
  created_ = 0;
  shutdowns_ = 0;
  shortInputs_ = 0;
}

void TestTransformState::RecordProperty(const PropertyChange& change, bool accepted) {
  std::lock_guard<std::mutex> lock(mutex_);
  properties_.push_back(change);
  if (accepted)
    accepted_.push_back(change);
}

void TestTransformState::RecordFrame(const FrameRecord& frame, Nv12Image input) {
  std::lock_guard<std::mutex> lock(mutex_);
  frames_.push_back(frame);
  lastInput_ = std::move(input);
}

void TestTransformState::RecordMessage(uint32_t message) {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.push_back(message);
}

void TestTransformState::RecordTypes(const NegotiatedTypes& types) {
  std::lock_guard<std::mutex> lock(mutex_);
  types_ = types;
}

void TestTransformState::RecordD3DManager(bool set, std::optional<LUID> adapter) {
  std::lock_guard<std::mutex> lock(mutex_);
  d3dManagerSet_ = set;
  d3dAdapter_ = adapter;
}

void TestTransformState::RecordShortInput() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++shortInputs_;
}

void TestTransformState::InstanceCreated() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++created_;
  ++live_;
}

void TestTransformState::InstanceDestroyed() {
  std::lock_guard<std::mutex> lock(mutex_);
  --live_;
}

void TestTransformState::ShutdownCalled() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++shutdowns_;
}

}  // namespace Sorvane::test
