#pragma once
// Test encoder transform: an in-process H.264 encoder MFT for tests and `sv-host --test-encoder`
// (never linked into a plug-in). NV12 in, lossless I_PCM H.264 out (support/ipcm_h264.h), so the
// picture an encoder fed it can be read back exactly from the access units it delivered.
//
//   CoInitializeEx(nullptr, COINIT_MULTITHREADED);
//   Sorvane::test::TestTransformOptions options;
//   options.async = true;       // MF_TRANSFORM_ASYNC: unlock, then METransformNeedInput/HaveOutput
//   options.hardware = true;    // listed under MFT_ENUM_FLAG_HARDWARE, takes a DXGI manager
//   Sorvane::test::TestTransformRegistration reg(options);  // MFTRegister + CoRegisterClassObject
//   ASSERT_TRUE(reg.Ok()) << reg.Error();
//   ... MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, ...) finds reg.FriendlyName() and activates it ...
//   reg.State().Property(CODECAPI_AVEncMPVGOPSize);   // what ICodecAPI was given
//   reg.State().LastInput();                           // the last NV12 picture it encoded
//   Sorvane::test::GlobalTransformCounters().live;     // instances alive, all registrations
//   reg.State().D3DAdapter();                          // adapter of the device it was handed
//   reg.SetFailures(f);                                // fail chosen steps from now on
//   // ~TestTransformRegistration: MFTUnregister + CoRevokeClassObject.
//
// Under Wine 8 (measured): MFTEnumEx's activation objects carry only the CLSID, the flags, the
// category and the output types: no MFT_FRIENDLY_NAME_Attribute, vendor id or hardware URL. The
// name is found with MFTGetInfo(MFT_TRANSFORM_CLSID_Attribute) or, once activated, in the
// transform's GetAttributes store (which also holds the vendor id, URL and adapter LUID given
// here). Wine filters by flags loosely: MFT_ENUM_FLAG_HARDWARE lists every transform registered
// hardware, synchronous or not; MFT_ENUM_FLAG_SYNCMFT adds those registered with neither
// MFT_ENUM_FLAG_ASYNCMFT nor MFT_ENUM_FLAG_HARDWARE; MFT_ENUM_FLAG_ASYNCMFT adds those registered
// async. `registerFlags` overrides the MFTRegister flags when a test needs another placement.
//
// Keyframes: an IDR picture (SPS + PPS + IDR slice, clean point set) for the first frame after
// streaming starts or a flush, when CODECAPI_AVEncVideoForceKeyFrame was set since the last frame,
// or when CODECAPI_AVEncMPVGOPSize frames have passed since the last IDR; otherwise a non-IDR
// intra picture. MF_MT_MPEG_SEQUENCE_HEADER of the current output type holds the avcC record.
// Odd frame sizes are refused (MF_E_INVALIDMEDIATYPE), as hardware encoders do, and an input
// buffer shorter than width × height × 3 / 2 is refused (E_INVALIDARG) and counted.
//
// By default the transform is kinder than any real encoder: it answers at once, copies each
// picture inside ProcessInput, takes every property at any time and never loses its device. The
// realistic behaviours below (RealisticOptions turns on the ones every vendor encoder shows) are
// what hardware encoders do: frames in flight, input samples kept and read late, properties that
// only count before the types are set, a typed quantiser, a session limit, a device that goes.
#include <windows.h>
// VARTYPE, LUID
#include <oaidl.h>
#include <objbase.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/ipcm_h264.h"

namespace Sorvane::test {

// Attributes that mingw-w64's headers lack (values from the Windows SDK's mftransform.h).
inline constexpr GUID kMftEnumHardwareVendorId = {
    0x3aecb0cc, 0x035b, 0x4bcc, {0x81, 0x85, 0x2b, 0x8d, 0x55, 0x1e, 0xf3, 0xaf}};
inline constexpr GUID kMftEnumAdapterLuid = {
    0x1d39518c, 0xe220, 0x4da8, {0xa0, 0x7f, 0xba, 0x17, 0x25, 0x52, 0xd6, 0xb1}};

// A failure HRESULT makes that step fail with it; S_OK leaves the step working.
struct TransformFailures {
  HRESULT activate = S_OK;       // the class factory refuses to create an instance
  HRESULT getAttributes = S_OK;  // IMFTransform::GetAttributes
  HRESULT asyncUnlock = S_OK;    // setting MF_TRANSFORM_ASYNC_UNLOCK on those attributes
  HRESULT setD3DManager = S_OK;  // MFT_MESSAGE_SET_D3D_MANAGER (a hardware transform)
  HRESULT setOutputType = S_OK;
  HRESULT getInputAvailableType = S_OK;  // every index
  HRESULT setInputType = S_OK;
  HRESULT codecApi = S_OK;          // QueryInterface for ICodecAPI
  HRESULT codecApiSetValue = S_OK;  // every ICodecAPI::SetValue (the value is still recorded)
  HRESULT eventGenerator = S_OK;    // QueryInterface for IMFMediaEventGenerator
  HRESULT beginGetEvent = S_OK;
  HRESULT processInput = S_OK;
  HRESULT processOutput = S_OK;            // e.g. MF_E_TRANSFORM_NEED_MORE_INPUT on a HaveOutput
  bool errorEvents = false;                // async: an MEError event before every HaveOutput
  HRESULT errorEventStatus = E_FAIL;       // the status those MEError events carry
  int failBeginGetEventAfter = -1;         // async: BeginGetEvent fails after this many calls
  bool streamChangeOnFirstOutput = false;  // first ProcessOutput says MF_E_TRANSFORM_STREAM_CHANGE
};

struct TestTransformOptions {
  bool async = false;
  bool hardware = false;
  // Empty: "Sorvane Test H.264 Encoder (sync|async, hw|sw) #slot".
  std::wstring friendlyName;
  // Attributes a hardware transform carries (MFTRegister attributes and its own store).
  std::wstring vendorId;                  // MFT_ENUM_HARDWARE_VENDOR_ID_Attribute, e.g. L"VEN_10DE"
  std::wstring hardwareUrl;               // MFT_ENUM_HARDWARE_URL_Attribute; empty: derived
  std::optional<LUID> adapterLuid;        // MFT_ENUM_ADAPTER_LUID
  std::optional<UINT32> registerFlags;    // MFTRegister flags; default from async and hardware
  bool providesSamples = false;           // MFT_OUTPUT_STREAM_PROVIDES_SAMPLES
  bool offerOtherInputTypeFirst = false;  // GetInputAvailableType lists I420 before NV12
  int initialInputRequests = 1;           // async: METransformNeedInput events at start of stream
  int eventDelayMs = 0;                   // async: each event is queued this much later
  int processOutputDelayMs = 0;           // every ProcessOutput takes this long
  TransformFailures failures;

  // Realistic behaviours.
  int latencyFrames = 0;           // a frame's output comes this many inputs after it went in
  bool keepsInputSamples = false;  // holds each input sample and reads its picture only when it
                                   // encodes it, unless doesNotAddRef
  bool doesNotAddRef = false;      // reports MFT_INPUT_STREAM_DOES_NOT_ADDREF; copies at input
  // Low latency, rate-control mode, GOP size and B pictures are static: set after the output
  // type they fail (MF_E_INVALIDREQUEST) and change nothing.
  bool staticProperties = false;
  // CODECAPI_AVEncVideoEncodeQP is VT_UI8 (default QP in bits 0-15), taken only in the quality
  // rate-control mode, and stays until set again; GetValue answers it (26 before any set).
  bool typedQp = false;
  // One streaming instance per registration: while one streams (from BEGIN_STREAMING to
  // END_STREAMING or Shutdown), another fails SetOutputType and BEGIN_STREAMING with
  // MF_E_HW_MFT_FAILED_START_STREAMING.
  bool sessionLimit = false;
  // The instance that is handed this frame (counted over the registration, from 1) has lost its
  // device: from then on its ProcessInput and ProcessOutput fail with DXGI_ERROR_DEVICE_REMOVED
  // and, asynchronous, it sends one MEError carrying that status. Once per registration: the
  // next instance works. -1: never.
  int loseDeviceAtFrame = -1;
};

// `options` with the behaviours every vendor encoder shows: `latencyFrames` in flight (and, when
// asynchronous, as many inputs asked for at the start), input samples kept and read late, static
// properties, the typed quantiser; events posted from the transform's own thread a little later.
TestTransformOptions RealisticOptions(TestTransformOptions options, int latencyFrames);

// One ICodecAPI::SetValue as received.
struct PropertyChange {
  GUID property{};
  VARTYPE type = VT_EMPTY;
  uint64_t value = 0;  // VT_UI4 / VT_UI8 / VT_I4 / VT_BOOL (VARIANT_TRUE reads as 1)
};

// One encoded frame.
struct FrameRecord {
  int64_t sampleTime = 0;  // 100 ns units, as given
  int64_t duration = 0;
  bool inputCleanPoint = false;  // MFSampleExtension_CleanPoint on the input sample
  bool idr = false;
  bool forced = false;  // CODECAPI_AVEncVideoForceKeyFrame asked for it
  // The default QP of CODECAPI_AVEncVideoEncodeQP: set since the previous frame, or (typedQp)
  // the one in effect.
  std::optional<uint32_t> qp;
  size_t outputBytes = 0;
};

// What the negotiated types said.
struct NegotiatedTypes {
  GUID outputSubtype{};
  int width = 0;
  int height = 0;
  uint32_t fpsNumerator = 0;
  uint32_t fpsDenominator = 0;
  uint32_t avgBitrate = 0;
  uint32_t profile = 0;  // MF_MT_MPEG2_PROFILE as asked
  bool inputSet = false;
};

// Everything the instances of one registration saw. Thread-safe.
class TestTransformState {
 public:
  std::vector<PropertyChange> PropertyLog() const;
  // The last value set for a property, if any (refused ones included).
  std::optional<uint64_t> Property(const GUID& property) const;
  // The last value the transform took for a property, if any.
  std::optional<uint64_t> Accepted(const GUID& property) const;
  std::optional<Nv12Image> LastInput() const;
  std::vector<FrameRecord> Frames() const;
  std::vector<uint32_t> Messages() const;  // MFT_MESSAGE_TYPE values, in order
  NegotiatedTypes Types() const;
  bool D3DManagerSet() const;
  // The adapter of the device in the last DXGI device manager given, when it could be read.
  std::optional<LUID> D3DAdapter() const;
  int InstancesCreated() const;
  int LiveInstances() const;
  int ShutdownCalls() const;
  int ShortInputs() const;  // input buffers too small for the negotiated size
  void Reset();             // forget everything recorded (counters of live instances stay)

  // Used by the transform.
  void RecordProperty(const PropertyChange& change, bool accepted);
  void RecordFrame(const FrameRecord& frame, Nv12Image input);
  void RecordMessage(uint32_t message);
  void RecordTypes(const NegotiatedTypes& types);
  void RecordD3DManager(bool set, std::optional<LUID> adapter);
  void RecordShortInput();
  void InstanceCreated();
  void InstanceDestroyed();
  void ShutdownCalled();

 private:
  mutable std::mutex mutex_;
  std::vector<PropertyChange> properties_;  // guarded by mutex_
  std::vector<PropertyChange> accepted_;    // guarded by mutex_
  std::optional<Nv12Image> lastInput_;      // guarded by mutex_
  std::vector<FrameRecord> frames_;         // guarded by mutex_
  std::vector<uint32_t> messages_;          // guarded by mutex_
  NegotiatedTypes types_;                   // guarded by mutex_
  bool d3dManagerSet_ = false;              // guarded by mutex_
  std::optional<LUID> d3dAdapter_;          // guarded by mutex_
  int created_ = 0;                         // guarded by mutex_
  int live_ = 0;                            // guarded by mutex_
  int shutdowns_ = 0;                       // guarded by mutex_
  int shortInputs_ = 0;                     // guarded by mutex_
};

// Counters over every registration of the process.
struct TransformCounters {
  int live = 0;
  int created = 0;
  int asyncCreated = 0;
  int shutdownCalls = 0;
};
TransformCounters GlobalTransformCounters();

class TestTransformRegistration {
 public:
  // Registers a new class (its own CLSID) with these options. COM must be initialised on the
  // calling thread (multithreaded apartment, so every MTA thread can activate it).
  explicit TestTransformRegistration(const TestTransformOptions& options);
  ~TestTransformRegistration();
  TestTransformRegistration(const TestTransformRegistration&) = delete;
  TestTransformRegistration& operator=(const TestTransformRegistration&) = delete;

  bool Ok() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  const CLSID& Clsid() const { return clsid_; }
  std::string FriendlyName() const;  // UTF-8
  TestTransformState& State();

  // Options that instances read at each step, so they can change mid-test.
  void SetFailures(const TransformFailures& failures);
  void SetEventDelayMs(int ms);
  void SetProcessOutputDelayMs(int ms);

  struct Slot;  // shared with the instances

 private:
  std::shared_ptr<Slot> slot_;
  CLSID clsid_{};
  DWORD cookie_ = 0;
  bool mftRegistered_ = false;
  std::string error_;
};

}  // namespace Sorvane::test
