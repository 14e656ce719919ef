// The test encoder transform through Media Foundation's own entry points: registration and
// enumeration, type negotiation, synchronous and event-driven encoding read back with the I_PCM
// reader, keyframe rules, the recorded properties, the failure switches and shutdown.
#include <d3d11.h>
#include <dxgi.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "support/test_transform/enumeration_test_helpers_win.h"
#include "support/test_transform/test_transform.h"
#include "support/test_transform/transform_object.h"

namespace Sorvane::test {
namespace {

constexpr UINT32 kSyncFlags = MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_SORTANDFILTER;
constexpr UINT32 kHardwareFlags = MFT_ENUM_FLAG_HARDWARE | MFT_ENUM_FLAG_SORTANDFILTER;
constexpr UINT32 kAsyncFlags = MFT_ENUM_FLAG_ASYNCMFT | MFT_ENUM_FLAG_SORTANDFILTER;

class MediaFoundation : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    MFStartup(MF_VERSION, MFSTARTUP_LITE);
    baseline_ = GlobalTransformCounters();
  }
  void TearDown() override {
    MFShutdown();
    CoUninitialize();
  }
  TransformCounters baseline_;
};

HRESULT SetOutput(IMFTransform* transform, int width, int height) {
  ComRef<IMFMediaType> type;
  MFCreateMediaType(type.Put());
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
  type->SetUINT32(MF_MT_AVG_BITRATE, 8000000);
  MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, width, height);
  MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, 30, 1);
  MFSetAttributeRatio(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
  type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
  type->SetUINT32(MF_MT_MPEG2_PROFILE, 100);
  return transform->SetOutputType(0, type.Get(), 0);
}

// The first NV12 type the transform offers, as an encoder's negotiation takes it.
HRESULT SetNv12Input(IMFTransform* transform) {
  for (DWORD i = 0;; ++i) {
    ComRef<IMFMediaType> type;
    HRESULT hr = transform->GetInputAvailableType(0, i, type.Put());
    if (FAILED(hr))
      return hr;
    GUID subtype{};
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    if (subtype == MFVideoFormat_NV12)
      return transform->SetInputType(0, type.Get(), 0);
  }
}

HRESULT Negotiate(IMFTransform* transform, int width, int height) {
  HRESULT hr = SetOutput(transform, width, height);
  return SUCCEEDED(hr) ? SetNv12Input(transform) : hr;
}

void SetUint(IMFTransform* transform, const GUID& property, UINT32 value) {
  ComRef<ICodecAPI> api;
  ASSERT_HRESULT_SUCCEEDED(
      transform->QueryInterface(IID_ICodecAPI, reinterpret_cast<void**>(api.Put())));
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI4;
  v.ulVal = value;
  ASSERT_HRESULT_SUCCEEDED(api->SetValue(&property, &v));
}

// A picture whose every sample depends on its position and the seed, zeros included (the
// emulation prevention of the writer must see them).
Nv12Image Pattern(int width, int height, int seed) {
  Nv12Image image(width, height);
  for (size_t i = 0; i < image.y.size(); ++i)
    image.y[i] = static_cast<uint8_t>((i * 7 + seed * 13) % 5 == 0 ? 0 : i * 3 + seed);
  for (size_t i = 0; i < image.uv.size(); ++i)
    image.uv[i] = static_cast<uint8_t>(i % 11 == 0 ? 0 : 128 + i + seed);
  return image;
}

ComRef<IMFSample>* NewSample(const Nv12Image& image, int64_t time, size_t bytes,
                             ComRef<IMFSample>* sample) {
  ComRef<IMFMediaBuffer> buffer;
  MFCreateMemoryBuffer(static_cast<DWORD>(bytes), buffer.Put());
  BYTE* data = nullptr;
  buffer->Lock(&data, nullptr, nullptr);
  const size_t luma = std::min(bytes, image.y.size());
  std::memcpy(data, image.y.data(), luma);
  if (bytes > luma)
    std::memcpy(data + luma, image.uv.data(), std::min(bytes - luma, image.uv.size()));
  buffer->Unlock();
  buffer->SetCurrentLength(static_cast<DWORD>(bytes));
  MFCreateSample(sample->Put());
  (*sample)->AddBuffer(buffer.Get());
  (*sample)->SetSampleTime(time);
  (*sample)->SetSampleDuration(333333);
  return sample;
}

HRESULT Push(IMFTransform* transform, const Nv12Image& image, int64_t time) {
  ComRef<IMFSample> sample;
  NewSample(image, time, image.y.size() + image.uv.size(), &sample);
  return transform->ProcessInput(0, sample.Get(), 0);
}

struct Output {
  HRESULT hr = S_OK;
  std::vector<uint8_t> bytes;
  int64_t time = -1;
  bool cleanPoint = false;
};

Output Pull(IMFTransform* transform) {
  Output out;
  MFT_OUTPUT_STREAM_INFO info{};
  transform->GetOutputStreamInfo(0, &info);
  MFT_OUTPUT_DATA_BUFFER buffer{};
  ComRef<IMFSample> supplied;
  if (!(info.dwFlags & MFT_OUTPUT_STREAM_PROVIDES_SAMPLES)) {
    ComRef<IMFMediaBuffer> memory;
    MFCreateMemoryBuffer(info.cbSize, memory.Put());
    MFCreateSample(supplied.Put());
    supplied->AddBuffer(memory.Get());
    buffer.pSample = supplied.Get();
  }
  DWORD status = 0;
  out.hr = transform->ProcessOutput(0, 1, &buffer, &status);
  if (SUCCEEDED(out.hr) && buffer.pSample) {
    ComRef<IMFMediaBuffer> contiguous;
    buffer.pSample->ConvertToContiguousBuffer(contiguous.Put());
    BYTE* data = nullptr;
    DWORD length = 0;
    contiguous->Lock(&data, nullptr, &length);
    out.bytes.assign(data, data + length);
    contiguous->Unlock();
    buffer.pSample->GetSampleTime(&out.time);
    out.cleanPoint = MFGetAttributeUINT32(buffer.pSample, MFSampleExtension_CleanPoint, 0) != 0;
  }
  if (buffer.pSample && buffer.pSample != supplied.Get())
    buffer.pSample->Release();
  if (buffer.pEvents)
    buffer.pEvents->Release();
  return out;
}

// Waits for the next event of the transform's queue; a bounded poll, so a lost event fails the
// test instead of hanging it.
MediaEventType NextEvent(IMFTransform* transform) {
  ComRef<IMFMediaEventGenerator> generator;
  if (FAILED(transform->QueryInterface(IID_IMFMediaEventGenerator,
                                       reinterpret_cast<void**>(generator.Put()))))
    return MEUnknown;
  for (int attempt = 0; attempt < 5000; ++attempt) {
    ComRef<IMFMediaEvent> event;
    const HRESULT hr = generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, event.Put());
    if (SUCCEEDED(hr)) {
      MediaEventType type = MEUnknown;
      event->GetType(&type);
      return type;
    }
    if (hr != MF_E_NO_EVENTS_AVAILABLE)
      return MEError;
    Sleep(2);
  }
  return MEUnknown;
}

void Unlock(IMFTransform* transform) {
  ComRef<IMFAttributes> attributes;
  ASSERT_HRESULT_SUCCEEDED(transform->GetAttributes(attributes.Put()));
  ASSERT_HRESULT_SUCCEEDED(attributes->SetUINT32(MF_TRANSFORM_ASYNC_UNLOCK, TRUE));
}

void ExpectPicture(IpcmH264Reader& reader, const Output& out, const Nv12Image& expected, bool idr) {
  ASSERT_HRESULT_SUCCEEDED(out.hr);
  IpcmPictureInfo info;
  const std::optional<Nv12Image> picture =
      reader.DecodeAccessUnit(out.bytes.data(), out.bytes.size(), &info);
  ASSERT_TRUE(picture) << reader.Error();
  EXPECT_TRUE(*picture == expected);
  EXPECT_EQ(info.idr, idr);
  EXPECT_EQ(info.hadParameterSets, idr);
  EXPECT_EQ(out.cleanPoint, idr);
}

TEST_F(MediaFoundation, RegisteredTransformsAreEnumeratedActivatedAndGoneAfterUnregistering) {
  std::string syncName, hardwareName, asyncName;
  CLSID syncClsid{};
  {
    TestTransformRegistration software({});
    TestTransformOptions hw;
    hw.hardware = true;
    hw.vendorId = L"VEN_10DE&DEV_2684";
    hw.adapterLuid = LUID{0x1234, 0};
    TestTransformRegistration hardware(hw);
    TestTransformOptions asyncHw = hw;
    asyncHw.async = true;
    TestTransformRegistration async(asyncHw);
    ASSERT_TRUE(software.Ok() && hardware.Ok() && async.Ok())
        << software.Error() << hardware.Error() << async.Error();
    syncName = software.FriendlyName();
    hardwareName = hardware.FriendlyName();
    asyncName = async.FriendlyName();
    syncClsid = software.Clsid();
    EXPECT_NE(syncName, hardwareName);

    auto has = [](const std::vector<std::string>& names, const std::string& name) {
      return std::find(names.begin(), names.end(), name) != names.end();
    };
    const std::vector<std::string> sync = EnumeratedNames(kSyncFlags);
    const std::vector<std::string> hwList = EnumeratedNames(kHardwareFlags);
    const std::vector<std::string> asyncList = EnumeratedNames(kAsyncFlags);
    EXPECT_TRUE(has(sync, syncName));
    EXPECT_FALSE(has(hwList, syncName));
    EXPECT_TRUE(has(hwList, hardwareName));
    EXPECT_TRUE(has(hwList, asyncName));
    EXPECT_TRUE(has(asyncList, asyncName));
    EXPECT_FALSE(has(asyncList, syncName));

    ComRef<IMFTransform> transform;
    ASSERT_HRESULT_SUCCEEDED(
        ActivateThroughEnumeration(hardware.Clsid(), kHardwareFlags, transform.Put()));
    EXPECT_EQ(hardware.State().LiveInstances(), 1);
    ComRef<IMFAttributes> attributes;
    ASSERT_HRESULT_SUCCEEDED(transform->GetAttributes(attributes.Put()));
    wchar_t text[128] = {};
    EXPECT_HRESULT_SUCCEEDED(attributes->GetString(kMftEnumHardwareVendorId, text, 128, nullptr));
    EXPECT_STREQ(text, L"VEN_10DE&DEV_2684");
    EXPECT_HRESULT_SUCCEEDED(
        attributes->GetString(MFT_FRIENDLY_NAME_Attribute, text, 128, nullptr));
    EXPECT_EQ(Narrow(text), hardwareName);
    EXPECT_HRESULT_SUCCEEDED(
        attributes->GetString(MFT_ENUM_HARDWARE_URL_Attribute, text, 128, nullptr));
    LUID luid{};
    EXPECT_HRESULT_SUCCEEDED(attributes->GetBlob(
        kMftEnumAdapterLuid, reinterpret_cast<UINT8*>(&luid), sizeof(luid), nullptr));
    EXPECT_EQ(luid.LowPart, 0x1234u);
    EXPECT_EQ(MFGetAttributeUINT32(attributes.Get(), MF_TRANSFORM_ASYNC, 7), 0u);
    transform.Reset();
    EXPECT_EQ(hardware.State().LiveInstances(), 0);
  }
  std::vector<CLSID> clsids;
  const std::vector<std::string> after = EnumeratedNames(MFT_ENUM_FLAG_ALL, &clsids);
  EXPECT_EQ(std::find(after.begin(), after.end(), syncName), after.end());
  EXPECT_EQ(std::find(clsids.begin(), clsids.end(), syncClsid), clsids.end());
  EXPECT_EQ(GlobalTransformCounters().live, baseline_.live);
}

TEST_F(MediaFoundation, SynchronousEncodingFollowsGopAndForcedKeyframesAndReadsBackExactly) {
  TestTransformOptions options;
  options.offerOtherInputTypeFirst = true;
  TestTransformRegistration reg(options);
  ASSERT_TRUE(reg.Ok()) << reg.Error();
  ComRef<IMFTransform> transform;
  ASSERT_HRESULT_SUCCEEDED(ActivateThroughEnumeration(reg.Clsid(), kSyncFlags, transform.Put()));
  const int width = 240, height = 134;  // neither a multiple of 16
  ASSERT_HRESULT_SUCCEEDED(Negotiate(transform.Get(), width, height));
  SetUint(transform.Get(), kCodecApiGopSize, 3);

  // The current output type announces the stream's parameter sets as an avcC record.
  ComRef<IMFMediaType> current;
  ASSERT_HRESULT_SUCCEEDED(transform->GetOutputCurrentType(0, current.Put()));
  UINT32 recordSize = 0;
  ASSERT_HRESULT_SUCCEEDED(current->GetBlobSize(MF_MT_MPEG_SEQUENCE_HEADER, &recordSize));
  EXPECT_EQ(recordSize, IpcmH264Writer(width, height).DecoderConfigurationRecord().size());

  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
  IpcmH264Reader reader;
  // Frame 0 starts the stream, 3 and 6 by the GOP of three, 4 is forced (and restarts the GOP).
  const std::vector<bool> idr = {true, false, false, true, true, false, false, true};
  for (int i = 0; i < static_cast<int>(idr.size()); ++i) {
    SCOPED_TRACE(i);
    if (i == 4)
      SetUint(transform.Get(), kCodecApiForceKeyFrame, 1);
    const Nv12Image picture = Pattern(width, height, i);
    ASSERT_HRESULT_SUCCEEDED(Push(transform.Get(), picture, 1000 * i));
    // One frame at a time: a second input waits for the first output.
    EXPECT_EQ(Push(transform.Get(), picture, 0), MF_E_NOTACCEPTING);
    const Output out = Pull(transform.Get());
    ExpectPicture(reader, out, picture, idr[i]);
    EXPECT_EQ(out.time, 1000 * i);
    EXPECT_EQ(Pull(transform.Get()).hr, MF_E_TRANSFORM_NEED_MORE_INPUT);
    ASSERT_TRUE(reg.State().LastInput());
    EXPECT_TRUE(*reg.State().LastInput() == picture);
  }
  const std::vector<FrameRecord> frames = reg.State().Frames();
  ASSERT_EQ(frames.size(), idr.size());
  EXPECT_TRUE(frames[4].forced);
  EXPECT_FALSE(frames[3].forced);
  EXPECT_EQ(reg.State().Types().profile, 100u);
  EXPECT_EQ(reg.State().Property(kCodecApiGopSize), 3u);
}

TEST_F(MediaFoundation, AsynchronousTransformIsLockedUntilUnlockedAndDrivenByEvents) {
  TestTransformOptions options;
  options.async = true;
  options.hardware = true;
  options.providesSamples = true;
  TestTransformRegistration reg(options);
  ASSERT_TRUE(reg.Ok()) << reg.Error();
  ComRef<IMFTransform> transform;
  ASSERT_HRESULT_SUCCEEDED(ActivateThroughEnumeration(reg.Clsid(), kAsyncFlags, transform.Put()));
  EXPECT_EQ(SetOutput(transform.Get(), 64, 48), MF_E_TRANSFORM_ASYNC_LOCKED);
  Unlock(transform.Get());
  ASSERT_HRESULT_SUCCEEDED(Negotiate(transform.Get(), 64, 48));
  // Input before the transform asked for it is refused.
  EXPECT_EQ(Push(transform.Get(), Pattern(64, 48, 0), 0), MF_E_NOTACCEPTING);
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);

  IpcmH264Reader reader;
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(NextEvent(transform.Get()), METransformNeedInput);
    const Nv12Image picture = Pattern(64, 48, i);
    ASSERT_HRESULT_SUCCEEDED(Push(transform.Get(), picture, i));
    EXPECT_EQ(Push(transform.Get(), picture, i), MF_E_NOTACCEPTING);
    ASSERT_EQ(NextEvent(transform.Get()), METransformHaveOutput);
    ExpectPicture(reader, Pull(transform.Get()), picture, i == 0);
  }
  ASSERT_EQ(NextEvent(transform.Get()), METransformNeedInput);

  const TransformCounters before = GlobalTransformCounters();
  ComRef<IMFShutdown> shutdown;
  ASSERT_HRESULT_SUCCEEDED(
      transform->QueryInterface(IID_IMFShutdown, reinterpret_cast<void**>(shutdown.Put())));
  EXPECT_HRESULT_SUCCEEDED(shutdown->Shutdown());
  EXPECT_EQ(shutdown->Shutdown(), MF_E_SHUTDOWN);
  EXPECT_EQ(Push(transform.Get(), Pattern(64, 48, 0), 0), MF_E_SHUTDOWN);
  ComRef<IMFMediaEventGenerator> generator;
  ASSERT_HRESULT_SUCCEEDED(transform->QueryInterface(IID_IMFMediaEventGenerator,
                                                     reinterpret_cast<void**>(generator.Put())));
  ComRef<IMFMediaEvent> event;
  EXPECT_EQ(generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, event.Put()), MF_E_SHUTDOWN);
  EXPECT_EQ(GlobalTransformCounters().shutdownCalls, before.shutdownCalls + 2);
  EXPECT_EQ(reg.State().ShutdownCalls(), 2);
  generator.Reset();
  shutdown.Reset();
  transform.Reset();
  EXPECT_EQ(reg.State().LiveInstances(), 0);
  EXPECT_EQ(GlobalTransformCounters().live, baseline_.live);
}

// Each switch makes exactly its own step fail, with the code it was given.
TEST_F(MediaFoundation, FailureSwitchesFailTheirStep) {
  TestTransformOptions options;
  options.async = true;
  options.hardware = true;
  TestTransformRegistration reg(options);
  ASSERT_TRUE(reg.Ok()) << reg.Error();
  const HRESULT code = E_ACCESSDENIED;

  TransformFailures activate;
  activate.activate = code;
  reg.SetFailures(activate);
  ComRef<IMFTransform> refused;
  // Wine's activation object reports its own code for a class that would not be created.
  EXPECT_TRUE(FAILED(ActivateThroughEnumeration(reg.Clsid(), kAsyncFlags, refused.Put())));
  EXPECT_FALSE(refused);
  reg.SetFailures({});

  ComRef<IMFTransform> transform;
  ASSERT_HRESULT_SUCCEEDED(ActivateThroughEnumeration(reg.Clsid(), kAsyncFlags, transform.Put()));
  TransformFailures unlock;
  unlock.asyncUnlock = code;
  reg.SetFailures(unlock);
  ComRef<IMFAttributes> attributes;
  ASSERT_HRESULT_SUCCEEDED(transform->GetAttributes(attributes.Put()));
  EXPECT_EQ(attributes->SetUINT32(MF_TRANSFORM_ASYNC_UNLOCK, TRUE), code);
  reg.SetFailures({});
  Unlock(transform.Get());

  struct Step {
    const char* name;
    HRESULT TransformFailures::*field;
    std::function<HRESULT()> run;
  };
  ComRef<IMFAttributes> unused;
  ComRef<IMFMediaType> type;
  void* out = nullptr;
  const std::vector<Step> steps = {
      {"GetAttributes", &TransformFailures::getAttributes,
       [&] { return transform->GetAttributes(unused.Put()); }},
      {"SetD3DManager", &TransformFailures::setD3DManager,
       [&] { return transform->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER, 0); }},
      {"SetOutputType", &TransformFailures::setOutputType,
       [&] { return SetOutput(transform.Get(), 64, 48); }},
      {"GetInputAvailableType", &TransformFailures::getInputAvailableType,
       [&] { return transform->GetInputAvailableType(0, 0, type.Put()); }},
      {"SetInputType", &TransformFailures::setInputType,
       [&] { return SetNv12Input(transform.Get()); }},
      {"ICodecAPI", &TransformFailures::codecApi,
       [&] { return transform->QueryInterface(IID_ICodecAPI, &out); }},
      {"IMFMediaEventGenerator", &TransformFailures::eventGenerator,
       [&] { return transform->QueryInterface(IID_IMFMediaEventGenerator, &out); }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    TransformFailures failures;
    failures.*step.field = code;
    reg.SetFailures(failures);
    EXPECT_EQ(step.run(), code);
    reg.SetFailures({});
    const HRESULT working = step.run();
    // GetInputAvailableType and SetInputType need the output type the step before set.
    EXPECT_HRESULT_SUCCEEDED(working);
    if (SUCCEEDED(working) && (step.field == &TransformFailures::codecApi ||
                               step.field == &TransformFailures::eventGenerator))
      static_cast<IUnknown*>(out)->Release();
  }

  TransformFailures late;
  late.beginGetEvent = code;
  late.processInput = code;
  late.processOutput = MF_E_TRANSFORM_NEED_MORE_INPUT;
  reg.SetFailures(late);
  ComRef<IMFMediaEventGenerator> generator;
  ASSERT_HRESULT_SUCCEEDED(transform->QueryInterface(IID_IMFMediaEventGenerator,
                                                     reinterpret_cast<void**>(generator.Put())));
  EXPECT_EQ(generator->BeginGetEvent(nullptr, nullptr), code);
  EXPECT_EQ(Push(transform.Get(), Pattern(64, 48, 0), 0), code);
  EXPECT_EQ(Pull(transform.Get()).hr, MF_E_TRANSFORM_NEED_MORE_INPUT);
}

// A hardware transform keeps the DXGI device manager it is given and tells which adapter its
// device is on; a software one declines, and anything but a device manager is refused.
TEST_F(MediaFoundation, HardwareTransformsTakeADeviceManagerAndReportItsAdapter) {
  ComRef<ID3D11Device> device;
  if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr,
                               D3D11_CREATE_DEVICE_VIDEO_SUPPORT, nullptr, 0, D3D11_SDK_VERSION,
                               device.Put(), nullptr, nullptr)))
    GTEST_SKIP() << "no Direct3D 11 device here (needs a display)";
  UINT token = 0;
  ComRef<IMFDXGIDeviceManager> manager;
  ASSERT_HRESULT_SUCCEEDED(MFCreateDXGIDeviceManager(&token, manager.Put()));
  ASSERT_HRESULT_SUCCEEDED(manager->ResetDevice(device.Get(), token));
  ComRef<IDXGIDevice> dxgiDevice;
  ComRef<IDXGIAdapter> adapter;
  DXGI_ADAPTER_DESC desc{};
  ASSERT_HRESULT_SUCCEEDED(
      device->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(dxgiDevice.Put())));
  ASSERT_HRESULT_SUCCEEDED(dxgiDevice->GetAdapter(adapter.Put()));
  ASSERT_HRESULT_SUCCEEDED(adapter->GetDesc(&desc));

  TestTransformOptions hw;
  hw.hardware = true;
  TestTransformRegistration hardware(hw);
  TestTransformRegistration software({});
  ComRef<IMFTransform> hwTransform, swTransform;
  ASSERT_HRESULT_SUCCEEDED(
      ActivateThroughEnumeration(hardware.Clsid(), kHardwareFlags, hwTransform.Put()));
  ASSERT_HRESULT_SUCCEEDED(
      ActivateThroughEnumeration(software.Clsid(), kSyncFlags, swTransform.Put()));
  const auto param = reinterpret_cast<ULONG_PTR>(manager.Get());
  EXPECT_EQ(swTransform->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER, param), E_NOTIMPL);
  EXPECT_FALSE(software.State().D3DManagerSet());
  ComRef<IMFAttributes> notAManager;
  MFCreateAttributes(notAManager.Put(), 1);
  EXPECT_EQ(hwTransform->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER,
                                        reinterpret_cast<ULONG_PTR>(notAManager.Get())),
            MF_E_UNSUPPORTED_D3D_TYPE);
  ASSERT_HRESULT_SUCCEEDED(hwTransform->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER, param));
  EXPECT_TRUE(hardware.State().D3DManagerSet());
  const std::optional<LUID> seen = hardware.State().D3DAdapter();
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->LowPart, desc.AdapterLuid.LowPart);
  EXPECT_EQ(seen->HighPart, desc.AdapterLuid.HighPart);
  // Zero takes the manager away again.
  ASSERT_HRESULT_SUCCEEDED(hwTransform->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER, 0));
  EXPECT_FALSE(hardware.State().D3DManagerSet());
}

TEST_F(MediaFoundation, ErrorEventsAndAStreamChangeComeWhereAsked) {
  TestTransformOptions options;
  options.async = true;
  options.failures.errorEvents = true;
  options.failures.streamChangeOnFirstOutput = true;
  TestTransformRegistration reg(options);
  ComRef<IMFTransform> transform;
  ASSERT_HRESULT_SUCCEEDED(ActivateThroughEnumeration(reg.Clsid(), kAsyncFlags, transform.Put()));
  Unlock(transform.Get());
  ASSERT_HRESULT_SUCCEEDED(Negotiate(transform.Get(), 32, 32));
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
  ASSERT_EQ(NextEvent(transform.Get()), METransformNeedInput);
  const Nv12Image picture = Pattern(32, 32, 5);
  ASSERT_HRESULT_SUCCEEDED(Push(transform.Get(), picture, 0));
  EXPECT_EQ(NextEvent(transform.Get()), MEError);
  EXPECT_EQ(NextEvent(transform.Get()), METransformHaveOutput);
  EXPECT_EQ(Pull(transform.Get()).hr, MF_E_TRANSFORM_STREAM_CHANGE);
  // Until the client sets the output type again, nothing comes out.
  EXPECT_EQ(Pull(transform.Get()).hr, MF_E_TRANSFORM_TYPE_NOT_SET);
  ComRef<IMFMediaType> available;
  ASSERT_HRESULT_SUCCEEDED(transform->GetOutputAvailableType(0, 0, available.Put()));
  ASSERT_HRESULT_SUCCEEDED(transform->SetOutputType(0, available.Get(), 0));
  IpcmH264Reader reader;
  ExpectPicture(reader, Pull(transform.Get()), picture, true);
}

TEST_F(MediaFoundation, OddSizesAndShortInputBuffersAreRefused) {
  TestTransformRegistration reg({});
  ComRef<IMFTransform> transform;
  ASSERT_HRESULT_SUCCEEDED(ActivateThroughEnumeration(reg.Clsid(), kSyncFlags, transform.Put()));
  EXPECT_EQ(SetOutput(transform.Get(), 240, 135), MF_E_INVALIDMEDIATYPE);
  EXPECT_EQ(SetOutput(transform.Get(), 14, 16), MF_E_INVALIDMEDIATYPE);
  // Input before any type: refused, not read.
  EXPECT_EQ(Push(transform.Get(), Pattern(16, 16, 0), 0), MF_E_TRANSFORM_TYPE_NOT_SET);
  ASSERT_HRESULT_SUCCEEDED(Negotiate(transform.Get(), 240, 136));
  // An input type of another size than the output's does not fit.
  ComRef<IMFMediaType> input;
  ASSERT_HRESULT_SUCCEEDED(transform->GetInputCurrentType(0, input.Put()));
  MFSetAttributeSize(input.Get(), MF_MT_FRAME_SIZE, 240, 134);
  EXPECT_EQ(transform->SetInputType(0, input.Get(), 0), MF_E_INVALIDMEDIATYPE);
  // The chroma of an odd height computed as W × H / 2 is one row short.
  const Nv12Image picture = Pattern(240, 136, 1);
  ComRef<IMFSample> sample;
  NewSample(picture, 0, 240 * 136 * 3 / 2 - 240, &sample);
  EXPECT_EQ(transform->ProcessInput(0, sample.Get(), 0), E_INVALIDARG);
  EXPECT_EQ(reg.State().ShortInputs(), 1);
  EXPECT_TRUE(reg.State().Frames().empty());
}

TEST_F(MediaFoundation, PropertiesAreRecordedInOrderWithTheirTypes) {
  TestTransformRegistration reg({});
  ComRef<IMFTransform> transform;
  ASSERT_HRESULT_SUCCEEDED(ActivateThroughEnumeration(reg.Clsid(), kSyncFlags, transform.Put()));
  ComRef<ICodecAPI> api;
  ASSERT_HRESULT_SUCCEEDED(
      transform->QueryInterface(IID_ICodecAPI, reinterpret_cast<void**>(api.Put())));
  const GUID lowLatency = {STATIC_CODECAPI_AVLowLatencyMode};
  const GUID meanBitrate = {STATIC_CODECAPI_AVEncCommonMeanBitRate};
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = VARIANT_TRUE;
  ASSERT_HRESULT_SUCCEEDED(api->SetValue(&lowLatency, &v));
  v.vt = VT_UI4;
  v.ulVal = 15000000;
  ASSERT_HRESULT_SUCCEEDED(api->SetValue(&meanBitrate, &v));
  v.ulVal = 9000000;
  ASSERT_HRESULT_SUCCEEDED(api->SetValue(&meanBitrate, &v));
  const std::vector<PropertyChange> log = reg.State().PropertyLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].property, lowLatency);
  EXPECT_EQ(log[0].type, VT_BOOL);
  EXPECT_EQ(log[0].value, 1u);
  EXPECT_EQ(log[1].value, 15000000u);
  EXPECT_EQ(reg.State().Property(meanBitrate), 9000000u);
  VARIANT back;
  VariantInit(&back);
  ASSERT_HRESULT_SUCCEEDED(api->GetValue(&meanBitrate, &back));
  EXPECT_EQ(back.ulVal, 9000000u);

  TransformFailures failures;
  failures.codecApiSetValue = E_INVALIDARG;
  reg.SetFailures(failures);
  v.ulVal = 1;
  EXPECT_EQ(api->SetValue(&meanBitrate, &v), E_INVALIDARG);
  // A refused value is still seen in the log, but not taken.
  EXPECT_EQ(reg.State().PropertyLog().size(), 4u);
  ASSERT_HRESULT_SUCCEEDED(api->GetValue(&meanBitrate, &back));
  EXPECT_EQ(back.ulVal, 9000000u);
}

// The encoders' way of listening: BeginGetEvent with a callback that Media Foundation invokes
// on its work queue, re-armed after every event.
class EventRecorder final : public IMFAsyncCallback {
 public:
  explicit EventRecorder(IMFMediaEventGenerator* generator) : generator_(generator) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid != IID_IUnknown && riid != IID_IMFAsyncCallback)
      return E_NOINTERFACE;
    *out = static_cast<IMFAsyncCallback*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack
  STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(IMFAsyncResult* result) override {
    ComRef<IMFMediaEvent> event;
    if (FAILED(generator_->EndGetEvent(result, event.Put())))
      return S_OK;
    MediaEventType type = MEUnknown;
    event->GetType(&type);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      types_.push_back(type);
    }
    arrived_.notify_all();
    generator_->BeginGetEvent(this, nullptr);
    return S_OK;
  }
  // The events seen once `count` have arrived (or after a generous bound).
  std::vector<MediaEventType> WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::seconds(20), [&] { return types_.size() >= count; });
    return types_;
  }
  ULONG Refs() const { return refs_; }

 private:
  IMFMediaEventGenerator* generator_;
  std::atomic<ULONG> refs_{1};
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<MediaEventType> types_;
};

TEST_F(MediaFoundation, EventsReachACallbackArmedWithBeginGetEvent) {
  TestTransformOptions options;
  options.async = true;
  options.hardware = true;
  TestTransformRegistration reg(options);
  ComRef<IMFTransform> transform;
  ASSERT_HRESULT_SUCCEEDED(
      ActivateThroughEnumeration(reg.Clsid(), kHardwareFlags, transform.Put()));
  Unlock(transform.Get());
  ASSERT_HRESULT_SUCCEEDED(Negotiate(transform.Get(), 32, 16));
  ComRef<IMFMediaEventGenerator> generator;
  ASSERT_HRESULT_SUCCEEDED(transform->QueryInterface(IID_IMFMediaEventGenerator,
                                                     reinterpret_cast<void**>(generator.Put())));
  {
    EventRecorder recorder(generator.Get());
    ASSERT_HRESULT_SUCCEEDED(generator->BeginGetEvent(&recorder, nullptr));
    transform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
    ASSERT_EQ(recorder.WaitFor(1), std::vector<MediaEventType>{METransformNeedInput});
    ASSERT_HRESULT_SUCCEEDED(Push(transform.Get(), Pattern(32, 16, 3), 0));
    ASSERT_EQ(recorder.WaitFor(2).back(), METransformHaveOutput);
    ASSERT_HRESULT_SUCCEEDED(Pull(transform.Get()).hr);
    EXPECT_EQ(recorder.WaitFor(3).back(), METransformNeedInput);
    // Shutdown ends the wait that is still armed, and the queue lets go of the callback.
    ComRef<IMFShutdown> shutdown;
    transform->QueryInterface(IID_IMFShutdown, reinterpret_cast<void**>(shutdown.Put()));
    ASSERT_HRESULT_SUCCEEDED(shutdown->Shutdown());
    for (int i = 0; i < 1000 && recorder.Refs() > 1; ++i)
      Sleep(2);
    EXPECT_EQ(recorder.Refs(), 1u);
  }
}

// Events queued late from the transform's own thread: they still arrive, in order, and a
// transform shut down and released while some are waiting goes away cleanly.
TEST_F(MediaFoundation, DelayedEventsArriveInOrderAndDieWithTheTransform) {
  TestTransformOptions options;
  options.async = true;
  options.eventDelayMs = 20;
  options.initialInputRequests = 2;
  TestTransformRegistration reg(options);
  for (int round = 0; round < 3; ++round) {
    ComRef<IMFTransform> transform;
    ASSERT_HRESULT_SUCCEEDED(ActivateThroughEnumeration(reg.Clsid(), kAsyncFlags, transform.Put()));
    Unlock(transform.Get());
    ASSERT_HRESULT_SUCCEEDED(Negotiate(transform.Get(), 16, 16));
    transform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
    ASSERT_EQ(NextEvent(transform.Get()), METransformNeedInput);
    ASSERT_EQ(NextEvent(transform.Get()), METransformNeedInput);
    ASSERT_HRESULT_SUCCEEDED(Push(transform.Get(), Pattern(16, 16, 1), 0));
    ASSERT_HRESULT_SUCCEEDED(Push(transform.Get(), Pattern(16, 16, 2), 1));
    if (round == 2) {
      // Released with both HaveOutput events still waiting, without Shutdown.
      continue;
    }
    ComRef<IMFShutdown> shutdown;
    transform->QueryInterface(IID_IMFShutdown, reinterpret_cast<void**>(shutdown.Put()));
    shutdown->Shutdown();
  }
  EXPECT_EQ(reg.State().LiveInstances(), 0);
  EXPECT_EQ(reg.State().ShutdownCalls(), 2);
}

// The realistic transform keeps frames in flight and reads each picture only when it encodes
// it, from the sample it was given: a client that refills that sample early changes what comes
// out. One that says it copies (MFT_INPUT_STREAM_DOES_NOT_ADDREF) does so at once.
TEST_F(MediaFoundation, RealisticTransformKeepsFramesInFlightAndReadsItsInputLate) {
  for (const bool copies : {false, true}) {
    SCOPED_TRACE(copies ? "copies its input" : "keeps its input");
    TestTransformOptions options = RealisticOptions({}, 2);
    options.doesNotAddRef = copies;
    TestTransformRegistration reg(options);
    ComRef<IMFTransform> transform;
    ASSERT_HRESULT_SUCCEEDED(ActivateThroughEnumeration(reg.Clsid(), kSyncFlags, transform.Put()));
    ASSERT_HRESULT_SUCCEEDED(Negotiate(transform.Get(), 32, 16));
    MFT_INPUT_STREAM_INFO info{};
    ASSERT_HRESULT_SUCCEEDED(transform->GetInputStreamInfo(0, &info));
    EXPECT_EQ((info.dwFlags & MFT_INPUT_STREAM_DOES_NOT_ADDREF) != 0, copies);
    transform->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
    ComRef<IMFSample> reused;
    NewSample(Pattern(32, 16, 0), 0, 32 * 16 * 3 / 2, &reused);
    IpcmH264Reader reader;
    for (int i = 0; i < 5; ++i) {
      SCOPED_TRACE(i);
      // Refill the one sample with picture i, as an encoder that reuses its sample would.
      ComRef<IMFMediaBuffer> buffer;
      reused->GetBufferByIndex(0, buffer.Put());
      BYTE* data = nullptr;
      buffer->Lock(&data, nullptr, nullptr);
      const Nv12Image picture = Pattern(32, 16, i);
      std::memcpy(data, picture.y.data(), picture.y.size());
      std::memcpy(data + picture.y.size(), picture.uv.data(), picture.uv.size());
      buffer->Unlock();
      reused->SetSampleTime(i);
      ASSERT_HRESULT_SUCCEEDED(transform->ProcessInput(0, reused.Get(), 0));
      const Output out = Pull(transform.Get());
      if (i < 2) {
        EXPECT_EQ(out.hr, MF_E_TRANSFORM_NEED_MORE_INPUT) << "two frames in flight";
        continue;
      }
      ASSERT_HRESULT_SUCCEEDED(out.hr);
      EXPECT_EQ(out.time, i - 2) << "the frame of two inputs ago";
      const auto decoded = reader.DecodeAccessUnit(out.bytes.data(), out.bytes.size());
      ASSERT_TRUE(decoded) << reader.Error();
      EXPECT_EQ(*decoded == Pattern(32, 16, i - 2), copies)
          << "a kept sample is read when its frame is encoded, after the refill";
    }
  }
}

}  // namespace
}  // namespace Sorvane::test
