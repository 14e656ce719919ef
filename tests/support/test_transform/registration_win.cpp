#include <atomic>

#include "support/test_transform/transform_object.h"

namespace Sorvane::test {
namespace {

// Test transform classes: this prefix, the process id in Data2/Data3 (so concurrent test
// programs in one Wine prefix never activate each other's) and a per-process serial in Data4[6..7].
constexpr unsigned long kClsidData1 = 0x5f1c0a2e;
constexpr BYTE kClsidTail[6] = {0x9a, 0x61, 0x2d, 0x4e, 0x0b, 0x7c};

CLSID MakeClsid(DWORD processId, int serial) {
  CLSID clsid{};
  clsid.Data1 = kClsidData1;
  clsid.Data2 = static_cast<unsigned short>(processId >> 16);
  clsid.Data3 = static_cast<unsigned short>(processId & 0xFFFF);
  std::memcpy(clsid.Data4, kClsidTail, sizeof(kClsidTail));
  clsid.Data4[6] = static_cast<BYTE>(serial >> 8);
  clsid.Data4[7] = static_cast<BYTE>(serial);
  return clsid;
}

bool IsTestClsid(const CLSID& clsid, DWORD* processId) {
  if (clsid.Data1 != kClsidData1 || std::memcmp(clsid.Data4, kClsidTail, sizeof(kClsidTail)) != 0)
    return false;
  *processId = (static_cast<DWORD>(clsid.Data2) << 16) | clsid.Data3;
  return true;
}

bool ProcessAlive(DWORD processId) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (!process)
    return false;
  const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return alive;
}

// Registrations left in the prefix by test programs that died before unregistering would show
// up in every later enumeration; drop those whose process is gone.
void RemoveStaleRegistrations() {
  IMFActivate** activates = nullptr;
  UINT32 count = 0;
  if (FAILED(MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, MFT_ENUM_FLAG_ALL, nullptr, nullptr, &activates,
                       &count)))
    return;
  for (UINT32 i = 0; i < count; ++i) {
    CLSID clsid{};
    DWORD owner = 0;
    if (SUCCEEDED(activates[i]->GetGUID(MFT_TRANSFORM_CLSID_Attribute, &clsid)) &&
        IsTestClsid(clsid, &owner) && owner != GetCurrentProcessId() && !ProcessAlive(owner))
      MFTUnregister(clsid);
    activates[i]->Release();
  }
  CoTaskMemFree(activates);
}

std::string Utf8(const std::wstring& text) {
  if (text.empty())
    return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), bytes,
                      nullptr, nullptr);
  return out;
}

std::string HexStatus(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08lx", static_cast<unsigned long>(hr));
  return text;
}

class TransformFactory final : public SingleInterfaceObject<IClassFactory> {
 public:
  explicit TransformFactory(std::shared_ptr<TransformSlot> slot)
      : SingleInterfaceObject(IID_IClassFactory), slot_(std::move(slot)) {}

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (outer) {
      if (out)
        *out = nullptr;
      return CLASS_E_NOAGGREGATION;
    }
    return TestEncoderTransform::Create(slot_, riid, out);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  ~TransformFactory() override = default;
  const std::shared_ptr<TransformSlot> slot_;
};

std::wstring DefaultName(const TestTransformOptions& options, int serial) {
  return L"Sorvane Test H.264 Encoder (" + std::wstring(options.async ? L"async" : L"sync") +
         L", " + (options.hardware ? L"hw" : L"sw") + L") #" + std::to_wstring(serial);
}

// What the registry entry carries, so the enumeration's activation objects show it too.
HRESULT RegistrationAttributes(const TestTransformOptions& options, const std::wstring& url,
                               IMFAttributes** out) {
  HRESULT hr = MFCreateAttributes(out, 4);
  if (FAILED(hr) || !options.hardware)
    return hr;
  (*out)->SetString(MFT_ENUM_HARDWARE_URL_Attribute, url.c_str());
  if (!options.vendorId.empty())
    (*out)->SetString(kMftEnumHardwareVendorId, options.vendorId.c_str());
  if (options.adapterLuid)
    (*out)->SetBlob(kMftEnumAdapterLuid, reinterpret_cast<const UINT8*>(&*options.adapterLuid),
                    sizeof(LUID));
  return S_OK;
}

std::atomic<int> nextSerial{1};

}  // namespace

TestTransformOptions RealisticOptions(TestTransformOptions options, int latencyFrames) {
  options.latencyFrames = latencyFrames;
  options.keepsInputSamples = true;
  options.staticProperties = true;
  options.typedQp = true;
  // An asynchronous one asks for as many frames as it can hold in flight, and one more.
  if (options.initialInputRequests < latencyFrames + 1)
    options.initialInputRequests = latencyFrames + 1;
  if (options.eventDelayMs < 2)
    options.eventDelayMs = 2;  // events come from the transform's own thread, a little later
  return options;
}

TestTransformRegistration::TestTransformRegistration(const TestTransformOptions& options)
    : slot_(std::make_shared<TransformSlot>()) {
  MFStartup(MF_VERSION, MFSTARTUP_LITE);
  slot_->index = nextSerial++;
  slot_->options = options;
  slot_->name =
      options.friendlyName.empty() ? DefaultName(options, slot_->index) : options.friendlyName;
  if (slot_->options.hardwareUrl.empty())
    slot_->options.hardwareUrl = L"sorvane-test-mft-" + std::to_wstring(slot_->index);
  clsid_ = MakeClsid(GetCurrentProcessId(), slot_->index);
  RemoveStaleRegistrations();

  auto* factory = new TransformFactory(slot_);
  HRESULT hr =
      CoRegisterClassObject(clsid_, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
  factory->Release();
  if (FAILED(hr)) {
    error_ = "CoRegisterClassObject failed " + HexStatus(hr);
    cookie_ = 0;
    return;
  }
  MFT_REGISTER_TYPE_INFO input{MFMediaType_Video, MFVideoFormat_NV12};
  MFT_REGISTER_TYPE_INFO output{MFMediaType_Video, MFVideoFormat_H264};
  UINT32 flags = 0;
  if (options.async)
    flags |= MFT_ENUM_FLAG_ASYNCMFT;
  if (options.hardware)
    flags |= MFT_ENUM_FLAG_HARDWARE;
  if (options.registerFlags)
    flags = *options.registerFlags;
  ComRef<IMFAttributes> attributes;
  hr = RegistrationAttributes(slot_->options, slot_->options.hardwareUrl, attributes.Put());
  if (SUCCEEDED(hr))
    hr = MFTRegister(clsid_, MFT_CATEGORY_VIDEO_ENCODER, slot_->name.data(), flags, 1, &input, 1,
                     &output, attributes.Get());
  if (FAILED(hr)) {
    error_ = "MFTRegister failed " + HexStatus(hr);
    return;
  }
  mftRegistered_ = true;
}

TestTransformRegistration::~TestTransformRegistration() {
  if (mftRegistered_)
    MFTUnregister(clsid_);
  if (cookie_)
    CoRevokeClassObject(cookie_);
  MFShutdown();
}

std::string TestTransformRegistration::FriendlyName() const {
  return Utf8(slot_->name);
}

TestTransformState& TestTransformRegistration::State() {
  return slot_->state;
}

void TestTransformRegistration::SetFailures(const TransformFailures& failures) {
  std::lock_guard<std::mutex> lock(slot_->optionsMutex);
  slot_->options.failures = failures;
}

void TestTransformRegistration::SetEventDelayMs(int ms) {
  std::lock_guard<std::mutex> lock(slot_->optionsMutex);
  slot_->options.eventDelayMs = ms;
}

void TestTransformRegistration::SetProcessOutputDelayMs(int ms) {
  std::lock_guard<std::mutex> lock(slot_->optionsMutex);
  slot_->options.processOutputDelayMs = ms;
}

}  // namespace Sorvane::test
