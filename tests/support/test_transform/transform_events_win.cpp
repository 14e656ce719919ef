#include "support/test_transform/transform_object.h"

namespace Sorvane::test {

DelayedEventPoster::DelayedEventPoster(IMFMediaEventQueue* queue)
    : queue_(queue), thread_([this] { Run(); }) {}

DelayedEventPoster::~DelayedEventPoster() {
  Stop();
}

void DelayedEventPoster::Post(MediaEventType type, HRESULT status, int delayMs) {
  if (delayMs <= 0) {
    queue_->QueueEventParamVar(type, GUID_NULL, status, nullptr);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (stop_)
    return;
  pending_.push_back(
      {std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs), type, status});
  wake_.notify_one();
}

void DelayedEventPoster::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    pending_.clear();
    wake_.notify_one();
  }
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
    thread_.join();
}

void DelayedEventPoster::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (pending_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const Pending next = pending_.front();
    if (std::chrono::steady_clock::now() < next.due) {
      wake_.wait_until(lock, next.due);
      continue;
    }
    pending_.pop_front();
    lock.unlock();
    queue_->QueueEventParamVar(next.type, GUID_NULL, next.status, nullptr);
    lock.lock();
  }
}

void TestEncoderTransform::PostEvent(MediaEventType type, HRESULT status) {
  if (poster_)
    poster_->Post(type, status, slot_->Options().eventDelayMs);
}

void TestEncoderTransform::RequestInput(int count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_)
      return;
    inputRequests_ += count;
  }
  for (int i = 0; i < count; ++i)
    PostEvent(METransformNeedInput);
}

STDMETHODIMP TestEncoderTransform::GetEvent(DWORD flags, IMFMediaEvent** event) {
  if (!events_)
    return E_NOTIMPL;
  return events_->GetEvent(flags, event);
}

STDMETHODIMP TestEncoderTransform::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) {
  if (!events_)
    return E_NOTIMPL;
  const TestTransformOptions options = slot_->Options();
  if (FAILED(options.failures.beginGetEvent))
    return options.failures.beginGetEvent;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (options.failures.failBeginGetEventAfter >= 0 &&
        ++beginGetEventCalls_ > options.failures.failBeginGetEventAfter)
      return E_FAIL;
  }
  return events_->BeginGetEvent(callback, state);
}

STDMETHODIMP TestEncoderTransform::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) {
  if (!events_)
    return E_NOTIMPL;
  return events_->EndGetEvent(result, event);
}

STDMETHODIMP TestEncoderTransform::QueueEvent(MediaEventType type, REFGUID extendedType,
                                              HRESULT status, const PROPVARIANT* value) {
  if (!events_)
    return E_NOTIMPL;
  return events_->QueueEventParamVar(type, extendedType, status, value);
}

}  // namespace Sorvane::test
