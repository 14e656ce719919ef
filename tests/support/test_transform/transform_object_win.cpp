#include "support/test_transform/transform_object.h"

namespace Sorvane::test {

TestEncoderTransform::TestEncoderTransform(std::shared_ptr<TransformSlot> slot)
    : slot_(std::move(slot)), async_(slot_->Options().async), hardware_(slot_->Options().hardware) {
  slot_->state.InstanceCreated();
  CountInstanceCreated(async_);
}

TestEncoderTransform::~TestEncoderTransform() {
  EndStreaming();
  // A client that never called Shutdown still must not leave the poster thread running.
  if (poster_)
    poster_->Stop();
  if (events_)
    events_->Shutdown();
  slot_->state.InstanceDestroyed();
  CountInstanceDestroyed();
}

HRESULT TestEncoderTransform::Create(std::shared_ptr<TransformSlot> slot, REFIID riid, void** out) {
  if (!out)
    return E_POINTER;
  *out = nullptr;
  const HRESULT refused = slot->Options().failures.activate;
  if (FAILED(refused))
    return refused;
  auto* transform = new TestEncoderTransform(std::move(slot));
  HRESULT hr = transform->Initialise();
  if (SUCCEEDED(hr))
    hr = transform->QueryInterface(riid, out);
  transform->Release();
  return hr;
}

HRESULT TestEncoderTransform::Initialise() {
  HRESULT hr = CreateTransformAttributes(slot_, attributes_.Put());
  if (FAILED(hr))
    return hr;
  const TestTransformOptions options = slot_->Options();
  attributes_->SetUINT32(MF_TRANSFORM_ASYNC, async_ ? TRUE : FALSE);
  attributes_->SetUINT32(MFT_SUPPORT_DYNAMIC_FORMAT_CHANGE, TRUE);
  // Wine's enumeration leaves the name off the activation objects; here it can still be read.
  attributes_->SetString(MFT_FRIENDLY_NAME_Attribute, slot_->name.c_str());
  if (hardware_) {
    attributes_->SetUINT32(MF_SA_D3D11_AWARE, TRUE);
    attributes_->SetString(MFT_ENUM_HARDWARE_URL_Attribute, options.hardwareUrl.c_str());
    if (!options.vendorId.empty())
      attributes_->SetString(kMftEnumHardwareVendorId, options.vendorId.c_str());
    if (options.adapterLuid)
      attributes_->SetBlob(kMftEnumAdapterLuid,
                           reinterpret_cast<const UINT8*>(&*options.adapterLuid), sizeof(LUID));
  }
  if (!async_)
    return S_OK;
  hr = MFCreateEventQueue(events_.Put());
  if (FAILED(hr))
    return hr;
  poster_ = std::make_unique<DelayedEventPoster>(events_.Get());
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::QueryInterface(REFIID riid, void** out) {
  if (!out)
    return E_POINTER;
  *out = nullptr;
  const TransformFailures failures = slot_->Options().failures;
  if (riid == IID_IUnknown || riid == IID_IMFTransform) {
    *out = static_cast<IMFTransform*>(this);
  } else if (riid == IID_IMFShutdown) {
    *out = static_cast<IMFShutdown*>(this);
  } else if (riid == IID_IMFMediaEventGenerator && async_) {
    if (FAILED(failures.eventGenerator))
      return failures.eventGenerator;
    *out = static_cast<IMFMediaEventGenerator*>(this);
  } else if (riid == IID_ICodecAPI) {
    if (FAILED(failures.codecApi))
      return failures.codecApi;
    *out = static_cast<ICodecAPI*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) TestEncoderTransform::AddRef() {
  return ++refs_;
}

STDMETHODIMP_(ULONG) TestEncoderTransform::Release() {
  const ULONG left = --refs_;
  if (left == 0)
    delete this;
  return left;
}

bool TestEncoderTransform::Unlocked() const {
  UINT32 unlocked = 0;
  return !async_ ||
         (SUCCEEDED(attributes_->GetUINT32(MF_TRANSFORM_ASYNC_UNLOCK, &unlocked)) && unlocked);
}

HRESULT TestEncoderTransform::CheckUsable() const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_)
      return MF_E_SHUTDOWN;
  }
  return Unlocked() ? S_OK : MF_E_TRANSFORM_ASYNC_LOCKED;
}

HRESULT TestEncoderTransform::CheckStep(DWORD streamId, HRESULT TransformFailures::*step) const {
  if (streamId != 0)
    return MF_E_INVALIDSTREAMNUMBER;
  const HRESULT usable = CheckUsable();
  if (FAILED(usable))
    return usable;
  const TransformFailures failures = slot_->Options().failures;
  return failures.*step;
}

STDMETHODIMP TestEncoderTransform::GetStreamLimits(DWORD* inMin, DWORD* inMax, DWORD* outMin,
                                                   DWORD* outMax) {
  if (!inMin || !inMax || !outMin || !outMax)
    return E_POINTER;
  *inMin = *inMax = *outMin = *outMax = 1;
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::GetStreamCount(DWORD* inputs, DWORD* outputs) {
  if (!inputs || !outputs)
    return E_POINTER;
  *inputs = *outputs = 1;
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::GetStreamIDs(DWORD, DWORD*, DWORD, DWORD*) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::GetInputStreamInfo(DWORD id, MFT_INPUT_STREAM_INFO* info) {
  if (!info)
    return E_POINTER;
  if (id != 0)
    return MF_E_INVALIDSTREAMNUMBER;
  const bool doesNotAddRef = slot_->Options().doesNotAddRef;
  std::lock_guard<std::mutex> lock(mutex_);
  *info = {};
  info->dwFlags = MFT_INPUT_STREAM_WHOLE_SAMPLES | MFT_INPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER |
                  (doesNotAddRef ? MFT_INPUT_STREAM_DOES_NOT_ADDREF : 0);
  info->cbSize = static_cast<DWORD>(types_.width * types_.height * 3 / 2);
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::GetOutputStreamInfo(DWORD id, MFT_OUTPUT_STREAM_INFO* info) {
  if (!info)
    return E_POINTER;
  if (id != 0)
    return MF_E_INVALIDSTREAMNUMBER;
  const bool provides = slot_->Options().providesSamples;
  std::lock_guard<std::mutex> lock(mutex_);
  *info = {};
  info->dwFlags = MFT_OUTPUT_STREAM_WHOLE_SAMPLES | MFT_OUTPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER |
                  (provides ? MFT_OUTPUT_STREAM_PROVIDES_SAMPLES : 0);
  info->cbSize = static_cast<DWORD>(MaxOutputBytes());
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::GetAttributes(IMFAttributes** attributes) {
  if (!attributes)
    return E_POINTER;
  *attributes = nullptr;
  const HRESULT refused = slot_->Options().failures.getAttributes;
  if (FAILED(refused))
    return refused;
  attributes_->AddRef();
  *attributes = attributes_.Get();
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::GetInputStreamAttributes(DWORD, IMFAttributes**) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::GetOutputStreamAttributes(DWORD, IMFAttributes**) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::DeleteInputStream(DWORD) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::AddInputStreams(DWORD, DWORD*) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::SetOutputBounds(LONGLONG, LONGLONG) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::ProcessEvent(DWORD, IMFMediaEvent*) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR param) {
  const HRESULT usable = CheckUsable();
  if (FAILED(usable))
    return usable;
  slot_->state.RecordMessage(static_cast<uint32_t>(message));
  switch (message) {
    case MFT_MESSAGE_SET_D3D_MANAGER:
      return TakeD3DManager(param);
    case MFT_MESSAGE_COMMAND_FLUSH: {
      std::lock_guard<std::mutex> lock(mutex_);
      held_.clear();
      keyframeDue_ = true;
      return S_OK;
    }
    case MFT_MESSAGE_NOTIFY_BEGIN_STREAMING: {
      std::lock_guard<std::mutex> lock(mutex_);
      if (streaming_)
        return S_OK;
      if (slot_->Options().sessionLimit && slot_->streaming.load() > 0)
        return MF_E_HW_MFT_FAILED_START_STREAMING;
      streaming_ = true;
      ++slot_->streaming;
      return S_OK;
    }
    case MFT_MESSAGE_NOTIFY_END_STREAMING:
      EndStreaming();
      return S_OK;
    case MFT_MESSAGE_NOTIFY_START_OF_STREAM:
      if (async_)
        RequestInput(slot_->Options().initialInputRequests);
      return S_OK;
    case MFT_MESSAGE_COMMAND_DRAIN:
      if (async_)
        PostEvent(METransformDrainComplete);
      return S_OK;
    default:
      return S_OK;
  }
}

STDMETHODIMP TestEncoderTransform::Shutdown() {
  slot_->state.ShutdownCalled();
  CountShutdown();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_)
      return MF_E_SHUTDOWN;
    shutdown_ = true;
    held_.clear();
    d3dManager_.Reset();
  }
  EndStreaming();
  if (poster_)
    poster_->Stop();
  if (events_)
    events_->Shutdown();
  return S_OK;
}

void TestEncoderTransform::EndStreaming() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!streaming_)
    return;
  streaming_ = false;
  --slot_->streaming;
}

STDMETHODIMP TestEncoderTransform::GetShutdownStatus(MFSHUTDOWN_STATUS* status) {
  if (!status)
    return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!shutdown_)
    return MF_E_INVALIDREQUEST;
  *status = MFSHUTDOWN_COMPLETED;
  return S_OK;
}

}  // namespace Sorvane::test
