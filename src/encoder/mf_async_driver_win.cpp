#include "encoder/mf_async_driver_win.h"

#include <mfapi.h>
#include <mferror.h>

#include "diag/log_channels.h"
#include "encoder/mf_output_win.h"
#include "encoder/mf_status_text.h"

namespace Sorvane {
namespace {

constexpr size_t kQueueBound = 2;
constexpr uint64_t kLoggedPushes = 8;
constexpr uint64_t kLoggedEvents = 32;

// Process-wide, diagnostic only.
std::atomic<uint64_t> gPushes{0};
std::atomic<uint64_t> gEvents{0};

std::string Text(HRESULT hr) {
  return StatusText(static_cast<uint32_t>(hr));
}

const char* EventName(MediaEventType type) {
  switch (type) {
    case METransformNeedInput:
      return "NeedInput";
    case METransformHaveOutput:
      return "HaveOutput";
    case METransformDrainComplete:
      return "DrainComplete";
    case MEError:
      return "Error";
    default:
      return "other";
  }
}

}  // namespace

// Media Foundation's handle on the driver. It may outlive the driver: Detach leaves later
// invocations without an owner, and Media Foundation drops its references when it likes.
class AsyncEventCallback final : public IMFAsyncCallback {
 public:
  explicit AsyncEventCallback(AsyncTransformDriver* owner) : owner_(owner) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr)
      return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMFAsyncCallback)) {
      *out = static_cast<IMFAsyncCallback*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0)
      delete this;
    return left;
  }
  STDMETHODIMP GetParameters(DWORD* flags, DWORD* queue) override {
    if (flags != nullptr)
      *flags = 0;
    if (queue != nullptr)
      *queue = 0;
    return S_OK;
  }
  STDMETHODIMP Invoke(IMFAsyncResult* result) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (owner_ != nullptr)
      owner_->OnEvent(result);
    return S_OK;
  }
  // Waits for an event in progress; later ones find no owner.
  void Detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    owner_ = nullptr;
  }

 private:
  ~AsyncEventCallback() = default;
  std::atomic<ULONG> references_{1};
  std::mutex mutex_;
  AsyncTransformDriver* owner_ GUARDED_BY(mutex_);
};

AsyncTransformDriver::AsyncTransformDriver(IMFTransform* transform, Codec codec,
                                           EncodedOutput& output, FailureSink onFailure)
    : transform_(transform), codec_(codec), output_(output), onFailure_(std::move(onFailure)) {}

AsyncTransformDriver::~AsyncTransformDriver() {
  Stop();
}

bool AsyncTransformDriver::Start() {
  HRESULT hr = transform_->QueryInterface(__uuidof(IMFMediaEventGenerator), generator_.PutVoid());
  if (FAILED(hr) || !generator_) {
    Log(channels::kEncoder, kLogError, "async: MFT does not expose IMFMediaEventGenerator (%s)",
        Text(FAILED(hr) ? hr : E_NOINTERFACE).c_str());
    generator_.Reset();
    return false;
  }
  Log(channels::kEncoder, kLogInfo, "async: event generator acquired");
  stopping_.store(false);
  callback_ = new AsyncEventCallback(this);
  hr = generator_->BeginGetEvent(callback_, nullptr);
  if (FAILED(hr)) {
    Log(channels::kEncoder, kLogError, "async: BeginGetEvent failed %s", Text(hr).c_str());
    Stop();
    return false;
  }
  Log(channels::kEncoder, kLogInfo, "async: BeginGetEvent armed");
  hr = transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  Log(channels::kEncoder, kLogInfo, "async: NOTIFY_BEGIN_STREAMING %s", Text(hr).c_str());
  hr = transform_->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
  Log(channels::kEncoder, kLogInfo, "async: NOTIFY_START_OF_STREAM %s", Text(hr).c_str());
  return true;
}

void AsyncTransformDriver::Stop() {
  stopping_.store(true);
  if (callback_ != nullptr) {
    callback_->Detach();
    callback_->Release();
    callback_ = nullptr;
  }
  generator_.Reset();
  std::lock_guard<std::mutex> lock(queueLock_);
  queue_.clear();
  needInput_ = 0;
}

void AsyncTransformDriver::Failed(RepeatingLine& line, const char* format, HRESULT status,
                                  bool loopStopped) {
  std::string note;
  if (line.Due(&note))
    Log(channels::kEncoder, kLogError, format, Text(status).c_str(), note.c_str());
  if (onFailure_)
    onFailure_(status, loopStopped);
}

void AsyncTransformDriver::Submit(IMFSample* sample, const char* failureLine) {
  const HRESULT hr = transform_->ProcessInput(0, sample, 0);
  if (FAILED(hr))
    Failed(inputFailures_, failureLine, hr, false);
}

void AsyncTransformDriver::Push(ComRef<IMFSample> sample) {
  bool submitted = false;
  size_t queued = 0;
  int banked = 0;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    if (needInput_ < 1) {
      while (queue_.size() >= kQueueBound)
        queue_.pop_front();  // the oldest waiting frame goes; the transform is behind
      queue_.push_back(std::move(sample));
      queued = queue_.size();
    } else {
      --needInput_;
      Submit(sample.Get(), "async: ProcessInput (from push) failed %s%s");
      submitted = true;
    }
    banked = needInput_;
  }
  if (gPushes.fetch_add(1) < kLoggedPushes) {
    Log(channels::kEncoder, kLogInfo, "async: push %s (queue=%zu needSlots=%d)",
        submitted ? "SUBMITTED" : "queued", queued, banked);
  }
}

// Without an armed request no event comes again: the transform would sit there, fed and
// silent. One more try for a passing refusal; after that the encoder must be reopened.
void AsyncTransformDriver::Rearm() {
  if (stopping_.load() || !generator_)
    return;
  HRESULT hr = generator_->BeginGetEvent(callback_, nullptr);
  if (SUCCEEDED(hr) || stopping_.load())
    return;
  hr = generator_->BeginGetEvent(callback_, nullptr);
  if (SUCCEEDED(hr) || hr == MF_E_SHUTDOWN)
    return;
  Log(channels::kEncoder, kLogError,
      "async: BeginGetEvent (re-arm) failed %s — no more events will come; the encoder has to be "
      "reopened",
      Text(hr).c_str());
  if (onFailure_)
    onFailure_(hr, true);
}

void AsyncTransformDriver::CollectOutput() {
  HRESULT status = S_OK;
  OutputStep step = ProcessOneOutput(transform_, codec_, output_, -1, &status);
  if (step == OutputStep::StreamChanged)  // the output is still waiting, in the new type
    step = ProcessOneOutput(transform_, codec_, output_, -1, &status);
  if ((step == OutputStep::Failed || step == OutputStep::NeedMoreInput) && status != MF_E_SHUTDOWN)
    Failed(outputFailures_, "async: ProcessOutput failed %s%s", status, false);
}

void AsyncTransformDriver::OnEvent(IMFAsyncResult* result) {
  if (stopping_.load() || !generator_)
    return;
  ComRef<IMFMediaEvent> event;
  const HRESULT hr = generator_->EndGetEvent(result, event.Put());
  if (hr == MF_E_SHUTDOWN)
    return;  // the transform is gone; its event loop with it
  if (FAILED(hr) || !event) {
    Log(channels::kEncoder, kLogInfo, "async: EndGetEvent failed %s",
        Text(FAILED(hr) ? hr : E_POINTER).c_str());
    Rearm();
    return;
  }
  MediaEventType type = MEUnknown;
  HRESULT status = S_OK;
  event->GetType(&type);
  event->GetStatus(&status);
  event.Reset();
  if (gEvents.fetch_add(1) < kLoggedEvents) {
    Log(channels::kEncoder, kLogInfo, "async: event %s (0x%x)", EventName(type),
        static_cast<unsigned>(type));
  }
  if (type == METransformNeedInput) {
    std::lock_guard<std::mutex> lock(queueLock_);
    if (!queue_.empty()) {
      ComRef<IMFSample> oldest = std::move(queue_.front());
      queue_.pop_front();
      Submit(oldest.Get(), "async: ProcessInput (queued) failed %s%s");
    } else {
      ++needInput_;
    }
  } else if (type == METransformHaveOutput) {
    std::lock_guard<std::mutex> lock(queueLock_);
    CollectOutput();
  } else if (type == MEError) {
    // Every one is told (a removed device says so here), not only the first few events.
    Failed(errorEvents_, "async: MEError %s%s", status, false);
  }
  Rearm();
}

}  // namespace Sorvane
