#pragma once
// The test encoder transform's COM object.
#include <windows.h>
// Media Foundation headers after windows.h.
#include <strmif.h>
// After strmif.h.
#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "support/ipcm_h264.h"
#include "support/test_transform/transform_slot.h"

namespace Sorvane::test {

// mingw-w64 declares the codec properties for __uuidof without defining them.
inline constexpr GUID kCodecApiGopSize = {STATIC_CODECAPI_AVEncMPVGOPSize};
inline constexpr GUID kCodecApiForceKeyFrame = {STATIC_CODECAPI_AVEncVideoForceKeyFrame};
inline constexpr GUID kCodecApiEncodeQp = {STATIC_CODECAPI_AVEncVideoEncodeQP};

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof(GUID)) < 0; }
};

// Holds one COM reference; releases it on destruction.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      ptr_ = other.ptr_;
      other.ptr_ = nullptr;
    }
    return *this;
  }
  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T** Put() {
    Reset();
    return &ptr_;
  }
  explicit operator bool() const { return ptr_ != nullptr; }
  void Reset() {
    if (ptr_)
      ptr_->Release();
    ptr_ = nullptr;
  }
  void Assign(T* p) {
    if (p)
      p->AddRef();
    Reset();
    ptr_ = p;
  }

 private:
  T* ptr_ = nullptr;
};

// IUnknown for a small object that implements one interface; deleted with its last reference.
template <typename Interface>
class SingleInterfaceObject : public Interface {
 public:
  explicit SingleInterfaceObject(const IID& iid) : iid_(iid) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != iid_)
      return E_NOINTERFACE;
    *out = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0)
      delete this;
    return left;
  }

 protected:
  virtual ~SingleInterfaceObject() = default;

 private:
  const IID& iid_;
  std::atomic<ULONG> refs_{1};
};

// Queues events on the transform's event queue, after a delay when one is asked for (a
// transform that is slow to answer), from its own thread so the caller is never held.
class DelayedEventPoster {
 public:
  explicit DelayedEventPoster(IMFMediaEventQueue* queue);
  ~DelayedEventPoster();
  void Post(MediaEventType type, HRESULT status, int delayMs);
  void Stop();  // drops what is still waiting

 private:
  void Run();

  IMFMediaEventQueue* queue_;  // owned by the transform, outlives the poster
  std::mutex mutex_;
  std::condition_variable wake_;
  struct Pending {
    std::chrono::steady_clock::time_point due;
    MediaEventType type;
    HRESULT status;
  };
  std::deque<Pending> pending_;  // guarded by mutex_
  bool stop_ = false;            // guarded by mutex_
  std::thread thread_;
};

class TestEncoderTransform final : public IMFTransform,
                                   public IMFMediaEventGenerator,
                                   public IMFShutdown,
                                   public ICodecAPI {
 public:
  static HRESULT Create(std::shared_ptr<TransformSlot> slot, REFIID riid, void** out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IMFTransform
  STDMETHODIMP GetStreamLimits(DWORD* inMin, DWORD* inMax, DWORD* outMin, DWORD* outMax) override;
  STDMETHODIMP GetStreamCount(DWORD* inputs, DWORD* outputs) override;
  STDMETHODIMP GetStreamIDs(DWORD, DWORD*, DWORD, DWORD*) override;
  STDMETHODIMP GetInputStreamInfo(DWORD id, MFT_INPUT_STREAM_INFO* info) override;
  STDMETHODIMP GetOutputStreamInfo(DWORD id, MFT_OUTPUT_STREAM_INFO* info) override;
  STDMETHODIMP GetAttributes(IMFAttributes** attributes) override;
  STDMETHODIMP GetInputStreamAttributes(DWORD id, IMFAttributes** attributes) override;
  STDMETHODIMP GetOutputStreamAttributes(DWORD id, IMFAttributes** attributes) override;
  STDMETHODIMP DeleteInputStream(DWORD id) override;
  STDMETHODIMP AddInputStreams(DWORD count, DWORD* ids) override;
  STDMETHODIMP GetInputAvailableType(DWORD id, DWORD index, IMFMediaType** type) override;
  STDMETHODIMP GetOutputAvailableType(DWORD id, DWORD index, IMFMediaType** type) override;
  STDMETHODIMP SetInputType(DWORD id, IMFMediaType* type, DWORD flags) override;
  STDMETHODIMP SetOutputType(DWORD id, IMFMediaType* type, DWORD flags) override;
  STDMETHODIMP GetInputCurrentType(DWORD id, IMFMediaType** type) override;
  STDMETHODIMP GetOutputCurrentType(DWORD id, IMFMediaType** type) override;
  STDMETHODIMP GetInputStatus(DWORD id, DWORD* flags) override;
  STDMETHODIMP GetOutputStatus(DWORD* flags) override;
  STDMETHODIMP SetOutputBounds(LONGLONG lower, LONGLONG upper) override;
  STDMETHODIMP ProcessEvent(DWORD id, IMFMediaEvent* event) override;
  STDMETHODIMP ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR param) override;
  STDMETHODIMP ProcessInput(DWORD id, IMFSample* sample, DWORD flags) override;
  STDMETHODIMP ProcessOutput(DWORD flags, DWORD count, MFT_OUTPUT_DATA_BUFFER* buffers,
                             DWORD* status) override;

  // IMFMediaEventGenerator
  STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override;
  STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
  STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
  STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                          const PROPVARIANT* value) override;

  // IMFShutdown
  STDMETHODIMP Shutdown() override;
  STDMETHODIMP GetShutdownStatus(MFSHUTDOWN_STATUS* status) override;

  // ICodecAPI
  STDMETHODIMP IsSupported(const GUID* api) override;
  STDMETHODIMP IsModifiable(const GUID* api) override;
  STDMETHODIMP GetParameterRange(const GUID* api, VARIANT* min, VARIANT* max,
                                 VARIANT* step) override;
  STDMETHODIMP GetParameterValues(const GUID* api, VARIANT** values, ULONG* count) override;
  STDMETHODIMP GetDefaultValue(const GUID* api, VARIANT* value) override;
  STDMETHODIMP GetValue(const GUID* api, VARIANT* value) override;
  STDMETHODIMP SetValue(const GUID* api, VARIANT* value) override;
  STDMETHODIMP RegisterForEvent(const GUID* api, LONG_PTR userData) override;
  STDMETHODIMP UnregisterForEvent(const GUID* api) override;
  STDMETHODIMP SetAllDefaults() override;
  STDMETHODIMP SetValueWithNotify(const GUID* api, VARIANT* value, GUID** changed,
                                  ULONG* count) override;
  STDMETHODIMP SetAllDefaultsWithNotify(GUID** changed, ULONG* count) override;
  STDMETHODIMP GetAllSettings(IStream* stream) override;
  STDMETHODIMP SetAllSettings(IStream* stream) override;
  STDMETHODIMP SetAllSettingsWithNotify(IStream* stream, GUID** changed, ULONG* count) override;

 private:
  explicit TestEncoderTransform(std::shared_ptr<TransformSlot> slot);
  ~TestEncoderTransform();
  HRESULT Initialise();

  // Shared by the methods: the first check of most calls.
  HRESULT CheckUsable() const;  // shut down, or async and still locked
  // Stream 0, usable, and the step not switched to fail.
  HRESULT CheckStep(DWORD streamId, HRESULT TransformFailures::*step) const;
  bool Unlocked() const;

  // Types (transform_types_win.cpp).
  HRESULT ValidateOutputType(IMFMediaType* type, NegotiatedTypes* out) const;
  HRESULT BuildInputType(const GUID& subtype, IMFMediaType** type) const;

  // MFT_MESSAGE_SET_D3D_MANAGER (transform_device_win.cpp).
  HRESULT TakeD3DManager(ULONG_PTR param);

  // One input as taken, until it is encoded: its picture (copied at once, or read from the
  // sample it holds when it is encoded) and what was decided for it when it came in.
  struct HeldInput {
    ComRef<IMFSample> sample;  // kept (keepsInputSamples); read when the frame is encoded
    Nv12Image picture;         // copied at input otherwise
    FrameRecord record;
  };

  // Processing (transform_processing_win.cpp).
  HRESULT TakeInput(IMFSample* sample, const TestTransformOptions& options);
  bool InputDue(const TestTransformOptions& options) const;  // an output can be made
  HRESULT EncodeOldest(std::vector<uint8_t>* bytes, FrameRecord* record);
  HRESULT DeliverInto(MFT_OUTPUT_DATA_BUFFER* buffer, const std::vector<uint8_t>& bytes,
                      int64_t time, int64_t duration, bool idr);
  size_t MaxOutputBytes() const;
  HRESULT LoseDeviceIfDue(const TestTransformOptions& options);
  void EndStreaming();

  // Events (transform_events_win.cpp).
  void PostEvent(MediaEventType type, HRESULT status = S_OK);
  void RequestInput(int count);

  // ICodecAPI (transform_codec_api_win.cpp).
  HRESULT TakeProperty(const PropertyChange& change);

  std::atomic<ULONG> refs_{1};
  const std::shared_ptr<TransformSlot> slot_;
  const bool async_;
  const bool hardware_;

  ComRef<IMFAttributes> attributes_;            // set at creation, read-only afterwards
  ComRef<IMFMediaEventQueue> events_;           // async only; set at creation
  std::unique_ptr<DelayedEventPoster> poster_;  // async only; set at creation

  mutable std::mutex mutex_;  // guards everything below
  bool shutdown_ = false;
  ComRef<IMFMediaType> outputType_;
  ComRef<IMFMediaType> inputType_;
  NegotiatedTypes types_;
  std::unique_ptr<IpcmH264Writer> writer_;
  ComRef<IMFDXGIDeviceManager> d3dManager_;
  std::deque<HeldInput> held_;  // taken, not yet encoded
  int inputRequests_ = 0;       // async: NeedInput events not yet answered by ProcessInput
  bool lost_ = false;           // its device is gone
  bool streaming_ = false;      // counted in the registration's streaming instances
  int beginGetEventCalls_ = 0;
  bool streamChangeSent_ = false;
  bool outputTypeStale_ = false;  // after a stream change, until SetOutputType
  bool keyframeDue_ = true;
  bool forceKeyframe_ = false;
  std::optional<uint32_t> nextQp_;
  uint64_t typedQp_ = 0x001a001a001a001aull;  // typedQp: in effect until set again
  uint32_t gopSize_ = 0;
  int framesSinceIdr_ = 0;
  std::map<GUID, PropertyChange, GuidLess> values_;
};

// The attribute store GetAttributes hands out: a plain store, except that setting
// MF_TRANSFORM_ASYNC_UNLOCK can be made to fail.
HRESULT CreateTransformAttributes(std::shared_ptr<TransformSlot> slot, IMFAttributes** out);

}  // namespace Sorvane::test
