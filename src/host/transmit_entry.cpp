#include "host/transmit_entry.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "base/version.h"
#include "bridge/key_injector.h"
#include "bridge/loaded_module.h"
#include "diag/crash_handler.h"
#include "diag/log_channels.h"
#include "encoder/encoder_factory.h"
#include "ui/pairing_dialog.h"
#include "ui/setup_dialog.h"

namespace Sorvane {
namespace {

using namespace sdk;

// The interface version the host announced when it loaded the module; records of older hosts
// are shorter, so the version-4 members are written only when it is 4 or more.
std::atomic<csSDK_int32> gHostInterfaceVersion{tmInterfaceVersion4};

std::mutex& FactoryMutex() {
  static std::mutex m;
  return m;
}
EncoderFactoryFn& FactoryOverride() {
  static EncoderFactoryFn factory;
  return factory;
}

EncoderFactoryFn CurrentEncoderFactory() {
  std::lock_guard<std::mutex> lock(FactoryMutex());
  if (FactoryOverride())
    return FactoryOverride();
  return PlatformEncoderFactory();
}

TransmitInstance* InstanceOf(const tmInstance* instance) {
  return instance ? static_cast<TransmitInstance*>(instance->ioPrivateInstanceData) : nullptr;
}

const SPBasicSuite* BasicSuiteOf(const tmStdParms* stdParms) {
  if (stdParms == nullptr || stdParms->piSuites == nullptr)
    return nullptr;
  const PlugUtilFuncs* util = stdParms->piSuites->utilFuncs;
  if (util == nullptr || util->getSPBasicSuite == nullptr)
    return nullptr;
  return util->getSPBasicSuite();
}

// Called before the plug-in starts a thread or installs a handler: they outlive Shutdown and the
// unload call, so the module must outlive a host's FreeLibrary.
void StayLoaded() {
  if (!PinThisModule())
    Log(channels::kMain, kLogError, "could not pin the module: an unload would end the host");
}

tmResult Startup(tmStdParms*, tmPluginInfo* info) {
  StayLoaded();
  InstallCrashHandler();
  Log(channels::kMain, kLogInfo, "Startup: Sorvane %s", kVersion);
  static std::once_flag announceKeys;
  std::call_once(announceKeys, AnnounceKeyInjector);
  if (info == nullptr)
    return tmResult_Success;
  static const char kName[] = "Sorvane";
  for (size_t i = 0; i < sizeof kName; ++i)
    info->outDisplayName[i] = kName[i];
  info->outAudioAvailable = 1;
  info->outAudioDefaultEnabled = 1;
  info->outVideoAvailable = 1;
  info->outVideoDefaultEnabled = 1;
  info->outHideInUI = 0;
  info->outHasSetup = 1;
  const csSDK_int32 hostVersion = gHostInterfaceVersion.load();
  if (hostVersion >= tmInterfaceVersion4) {
    info->outInterfaceVersion = tmInterfaceVersion4;
    info->outPushAudioAvailable = 1;
    info->outHasStreaming = 1;
  } else {
    info->outInterfaceVersion = hostVersion;  // claim only what the filled table provides
  }
  return tmResult_Success;
}

tmResult Shutdown(tmStdParms*) {
  CloseSetupDialog();  // its thread must not outlive the module's code
  return tmResult_Success;
}

tmResult SetupDialog(tmStdParms*, prParentWnd) {
  StayLoaded();
  ShowSetupDialog();
  return tmResult_Success;
}

tmResult NeedsReset(const tmStdParms*, prBool* outReset) {
  if (outReset != nullptr)
    *outReset = 0;
  return tmResult_Success;
}

tmResult CreateInstance(const tmStdParms* stdParms, tmInstance* record) {
  if (record == nullptr)
    return tmResult_ErrorUnsupported;
  record->ioPrivateInstanceData = nullptr;  // also when the construction throws
  StayLoaded();
  // Owned here until it is handed over: if a step below throws, the instance unregisters and goes.
  auto instance =
      std::make_unique<TransmitInstance>(BasicSuiteOf(stdParms), CurrentEncoderFactory());
  if (!instance->HasPipeline())
    return tmResult_ErrorUnsupported;
  instance->SetAudioFormat(record->inAudioSampleRate, record->inNumChannels);
  instance->SetVideoFrameRate(record->inVideoFrameRate);
  instance->Start();
  record->ioPrivateInstanceData = instance.release();
  return tmResult_Success;
}

tmResult DisposeInstance(const tmStdParms*, tmInstance* record) {
  if (record == nullptr)
    return tmResult_Success;
  delete InstanceOf(record);
  record->ioPrivateInstanceData = nullptr;
  return tmResult_Success;
}

tmResult QueryAudioMode(const tmStdParms*, const tmInstance*, csSDK_int32, tmAudioMode*) {
  return tmResult_Success;
}

tmResult QueryVideoMode(const tmStdParms*, const tmInstance* record, csSDK_int32 index,
                        tmVideoMode* mode) {
  if (index != 0)
    return tmResult_ErrorUnsupported;
  if (mode == nullptr)
    return tmResult_Success;
  mode->outWidth = 0;
  mode->outHeight = 0;
  mode->outPARNum = 0;
  mode->outPARDen = 0;
  mode->outFieldType = prFieldsAny;
  mode->outPixelFormat = PrPixelFormat_BGRA_4444_8u;
  const PrTime frameDuration = record != nullptr ? record->inVideoFrameRate : 0;
  mode->outLatency = frameDuration >= 1 ? 2 * frameDuration : 0;
  return tmResult_Success;
}

tmResult ActivateDeactivate(const tmStdParms*, const tmInstance* record, PrActivationEvent,
                            prBool audioActive, prBool videoActive) {
  TransmitInstance* instance = InstanceOf(record);
  if (instance == nullptr)
    return tmResult_Success;
  const bool active = audioActive || videoActive;
  Log(channels::kMain, kLogInfo, "ActivateDeactivate: audio=%d video=%d → %s", audioActive,
      videoActive, active ? "Start" : "Stop");
  if (active) {
    instance->Start();
  } else {
    instance->Stop();
  }
  return tmResult_Success;
}

tmResult StartPlaybackClock(const tmStdParms*, const tmInstance* record, const tmPlaybackClock*) {
  if (TransmitInstance* instance = InstanceOf(record))
    instance->StartPlaybackClock();
  return tmResult_Success;
}

tmResult StopPlaybackClock(const tmStdParms*, const tmInstance* record) {
  if (TransmitInstance* instance = InstanceOf(record))
    instance->StopPlaybackClock();
  return tmResult_Success;
}

tmResult PushVideo(const tmStdParms*, const tmInstance* record, const tmPushVideo* push) {
  if (TransmitInstance* instance = InstanceOf(record))
    instance->PushVideo(push);
  return tmResult_Success;
}

tmResult StartPushAudio(const tmStdParms*, const tmInstance*, PrTime, float, PrTime, PrTime, prBool,
                        prBool, csSDK_uint32* outSamplesPerFrame) {
  if (outSamplesPerFrame != nullptr)
    *outSamplesPerFrame = 1024;
  return tmResult_Success;
}

tmResult PushAudio(const tmStdParms*, const tmInstance* record, const tmPushAudio* push) {
  if (TransmitInstance* instance = InstanceOf(record))
    instance->PushAudio(push);
  return tmResult_Success;
}

tmResult StopPushAudio(const tmStdParms*, const tmInstance*) {
  return tmResult_Success;
}

tmResult SetStreamingStateChangedCallback(const tmStdParms*, void*,
                                          tmStreamingStateChangedCallback) {
  return tmResult_Success;
}

tmResult EnableStreaming(const tmStdParms*, prBool) {
  return tmResult_Success;
}

tmResult IsStreamingEnabled(const tmStdParms*, prBool* outEnabled) {
  if (outEnabled != nullptr)
    *outEnabled = 1;
  return tmResult_Success;
}

tmResult IsStreamingActive(const tmStdParms*, prBool* outActive) {
  if (outActive != nullptr)
    *outActive = 1;
  return tmResult_Success;
}

template <EntryName Name, auto Entry>
constexpr auto Guarded = &GuardedEntry<TransmitEntryFailure, Name, Entry>::Call;

}  // namespace

void SetEncoderFactoryForTesting(EncoderFactoryFn factory) {
  std::lock_guard<std::mutex> lock(FactoryMutex());
  FactoryOverride() = std::move(factory);
}

tmResult TransmitEntry(csSDK_int32 interfaceVersion, prBool loadModule, piSuitesPtr,
                       tmModule* outModule) {
  if (!loadModule) {
    // The module stays mapped (it pinned itself), but no window of ours outlives the host's
    // last word to it.
    CloseSetupDialog();
    CloseOpenPairingDialogs();
    return tmResult_Success;
  }
  gHostInterfaceVersion.store(interfaceVersion);
  if (outModule == nullptr)
    return tmResult_Success;
  outModule->Startup = Guarded<"Startup", Startup>;
  outModule->Shutdown = Guarded<"Shutdown", Shutdown>;
  outModule->SetupDialog = Guarded<"SetupDialog", SetupDialog>;
  outModule->NeedsReset = Guarded<"NeedsReset", NeedsReset>;
  outModule->CreateInstance = Guarded<"CreateInstance", CreateInstance>;
  outModule->DisposeInstance = Guarded<"DisposeInstance", DisposeInstance>;
  outModule->QueryAudioMode = Guarded<"QueryAudioMode", QueryAudioMode>;
  outModule->QueryVideoMode = Guarded<"QueryVideoMode", QueryVideoMode>;
  outModule->ActivateDeactivate = Guarded<"ActivateDeactivate", ActivateDeactivate>;
  outModule->StartPlaybackClock = Guarded<"StartPlaybackClock", StartPlaybackClock>;
  outModule->StopPlaybackClock = Guarded<"StopPlaybackClock", StopPlaybackClock>;
  outModule->PushVideo = Guarded<"PushVideo", PushVideo>;
  if (interfaceVersion < tmInterfaceVersion4)
    return tmResult_Success;
  outModule->StartPushAudio = Guarded<"StartPushAudio", StartPushAudio>;
  outModule->PushAudio = Guarded<"PushAudio", PushAudio>;
  outModule->StopPushAudio = Guarded<"StopPushAudio", StopPushAudio>;
  outModule->SetStreamingStateChangedCallback =
      Guarded<"SetStreamingStateChangedCallback", SetStreamingStateChangedCallback>;
  outModule->EnableStreaming = Guarded<"EnableStreaming", EnableStreaming>;
  outModule->IsStreamingEnabled = Guarded<"IsStreamingEnabled", IsStreamingEnabled>;
  outModule->IsStreamingActive = Guarded<"IsStreamingActive", IsStreamingActive>;
  return tmResult_Success;
}

}  // namespace Sorvane
