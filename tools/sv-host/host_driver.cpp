#include "sv-host/host_driver.h"

#include <chrono>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "base/clock.h"
#include "sv-host/ctrl_host_run.h"
#include "sv-host/file_source.h"
#include "sv-host/host_suites.h"
#include "sv-host/module_loader.h"
#include "sv-host/sync_marks.h"
#include "sv-host/test_scene.h"
#include "sv-host/tone.h"
#include "sv-host/ui_thread_pump.h"

namespace Sorvane::hostsim {
namespace {

using namespace sdk;

// The record is byte-packed, so the name sits at an odd offset: copy it out before reading it.
std::string NarrowName(const tmPluginInfo& info) {
  prUTF16Char name[sizeof info.outDisplayName / sizeof(prUTF16Char)];
  std::memcpy(name, info.outDisplayName, sizeof name);
  std::string text;
  for (size_t i = 0; i < std::size(name) && name[i] != 0; ++i)
    text.push_back(name[i] < 0x80 ? char(name[i]) : '?');
  return text;
}

class HostSession {
 public:
  HostSession(const HostRunOptions& options, std::ostream& progress, HostRunReport& report,
              FileSource* source)
      : options_(options), progress_(progress), report_(report), source_(source) {
    stdParms_.piSuites = HostSuites::Instance().PiSuites();
    instance_.inHasAudio = options.audio ? 1 : 0;
    instance_.inNumChannels = 2;
    instance_.inAudioSampleRate = 48000.0f;
    instance_.inHasVideo = 1;
    instance_.inVideoWidth = options.width;
    instance_.inVideoHeight = options.height;
    instance_.inVideoFrameRate = HostSuites::kTicksPerSecond / (options.fps > 0 ? options.fps : 30);
  }

  bool Load() {
    module_ = LoadedModule::Open(options_.pluginPath, &report_.error);
    if (!module_)
      return false;
    auto entry = reinterpret_cast<xTransmitEntryFn>(module_->Symbol("xTransmitEntry"));
    if (entry == nullptr) {
      report_.error = "xTransmitEntry is not exported";
      return false;
    }
    entry_ = entry;
    report_.loaded = true;
    const tmResult r = entry_(options_.interfaceVersion, 1, stdParms_.piSuites, &module);
    progress_ << "xTransmitEntry(version " << options_.interfaceVersion << ", load) -> " << r
              << "\n";
    return r == tmResult_Success;
  }

  void Startup() {
    if (module.Startup == nullptr)
      return;
    tmPluginInfo info{};
    report_.startupResult = module.Startup(&stdParms_, &info);
    report_.displayName = NarrowName(info);
    report_.pluginInterfaceVersion = info.outInterfaceVersion;
    progress_ << "Startup -> " << report_.startupResult << " (display name \""
              << report_.displayName << "\", interface version " << info.outInterfaceVersion
              << ", has setup " << info.outHasSetup << ")\n";
  }

  bool CreateInstance() {
    report_.createResult = module.CreateInstance(&stdParms_, &instance_);
    progress_ << "CreateInstance -> " << report_.createResult
              << (report_.createResult == tmResult_ErrorUnsupported
                      ? " (the plug-in declined: no encoder, instance dormant)"
                      : "")
              << "\n";
    return report_.createResult == tmResult_Success;
  }

  void OpenSetup() {
    if (module.SetupDialog == nullptr) {
      progress_ << "SetupDialog: the plug-in has none\n";
      return;
    }
    progress_ << "SetupDialog -> " << module.SetupDialog(&stdParms_, nullptr) << "\n";
  }

  void QueryVideoMode() {
    tmVideoMode mode{};
    report_.queryVideoModeResult = module.QueryVideoMode(&stdParms_, &instance_, 0, &mode);
    report_.latencyTicks = mode.outLatency;
    progress_ << "QueryVideoMode(0) -> " << report_.queryVideoModeResult << " (pixel format 0x"
              << std::hex << mode.outPixelFormat << std::dec << ", latency "
              << mode.outLatency * 1000 / HostSuites::kTicksPerSecond << " ms)\n";
  }

  void Activate(bool on) {
    const int a = on && options_.audio ? 1 : 0;
    const tmResult r = module.ActivateDeactivate(&stdParms_, &instance_,
                                                 PrActivationEvent_PlayerActivated, a, on ? 1 : 0);
    progress_ << "ActivateDeactivate(audio " << a << ", video " << (on ? 1 : 0) << ") -> " << r
              << "\n";
  }

  void PushAll() {
    uint32_t samplesPerChunk = 1024;
    if (options_.audio && module.StartPushAudio != nullptr) {
      module.StartPushAudio(&stdParms_, &instance_, 0, 1.0f, 0, 0, 0, 0, &samplesPerChunk);
    }
    ToneGenerator tone(440.0, 48000, 2);
    tone.AddSyncClicks();
    const bool fileSound = source_ != nullptr && source_->info().hasAudio;
    uint64_t audioFrames = 0;
    const int fps = options_.fps > 0 ? options_.fps : 30;
    const uint64_t total = static_cast<uint64_t>(options_.seconds * fps);
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t slot = 0; slot < total; ++slot) {
      RunUiThreadUntil(start + std::chrono::microseconds(slot * 1000000 / fps));
      const double atSeconds = slot / static_cast<double>(fps);
      if (Paused(atSeconds))
        continue;
      NotePauseOver(atSeconds);
      PushFrame(static_cast<uint32_t>(report_.framesPushed), atSeconds);
      const uint64_t pushed = report_.framesPushed;
      while (options_.audio && module.PushAudio != nullptr && audioFrames < pushed * 48000 / fps) {
        float** samples =
            fileSound ? source_->NextAudio(samplesPerChunk) : tone.Next(samplesPerChunk);
        audioFrames += samplesPerChunk;
        tmPushAudio push{0, samples, samplesPerChunk, 2};
        module.PushAudio(&stdParms_, &instance_, &push);
        ++report_.audioPushes;
      }
      if (pushed % static_cast<uint64_t>(fps) == 0) {
        progress_ << "  pushed " << pushed << " frames\n" << std::flush;
      }
    }
    if (options_.audio && module.StopPushAudio != nullptr)
      module.StopPushAudio(&stdParms_, &instance_);
  }

  void Dispose() {
    module.DisposeInstance(&stdParms_, &instance_);
    progress_ << "DisposeInstance\n";
  }

  void Shutdown() {
    if (module.Shutdown)
      module.Shutdown(&stdParms_);
    entry_(options_.interfaceVersion, 0, stdParms_.piSuites, &module);
    progress_ << "Shutdown and unload\n";
    if (options_.unload)
      module_.reset();  // FreeLibrary / dlclose
    else
      module_->KeepMappedUntilExit();  // its network threads live until the process ends
  }

  tmModule module{};

 private:
  bool Paused(double atSeconds) const {
    return options_.pauseAtSeconds >= 0 && atSeconds >= options_.pauseAtSeconds &&
           atSeconds < options_.pauseAtSeconds + options_.pauseForSeconds;
  }
  void NotePauseOver(double atSeconds) {
    if (options_.pauseAtSeconds < 0 || options_.pauseForSeconds <= 0 ||
        atSeconds < options_.pauseAtSeconds + options_.pauseForSeconds)
      return;
    if (report_.framesPushedAfterPause == 0) {
      report_.firstIndexAfterPause = report_.framesPushed;
      progress_ << "  resumed after the pause with frame " << report_.framesPushed << "\n";
    }
    ++report_.framesPushedAfterPause;
  }

  void PushFrame(uint32_t index, double atSeconds) {
    const bool resized = options_.resizeAtSeconds >= 0 && atSeconds >= options_.resizeAtSeconds &&
                         options_.resizeWidth > 0 && options_.resizeHeight > 0;
    const int w = resized && !source_ ? options_.resizeWidth : options_.width;
    const int h = resized && !source_ ? options_.resizeHeight : options_.height;
    PPixHand frame = HostSuites::Instance().NewFrame(w, h, w * 4);
    // The push time is taken once the picture is drawn, so latency starts where the host hands
    // the frame over.
    if (source_ != nullptr) {
      source_->NextPicture(HostSuites::Pixels(frame), w * 4);
    } else {
      RenderTestScene(HostSuites::Pixels(frame), w, h, w * 4, SceneStamp{index, 0});
      DrawSyncMarker(HostSuites::Pixels(frame), w, h, w * 4,
                     IsSyncFrame(index, options_.fps > 0 ? options_.fps : 30));
    }
    DrawSceneStamp(HostSuites::Pixels(frame), w, h, w * 4,
                   SceneStamp{index, static_cast<uint64_t>(SteadyNowNs() / 1000)});
    const tmLabeledFrame labeled{frame, nullptr};
    const tmPushVideo push{-1, playmode_Playing, kPrRenderQuality_High, &labeled, 1};
    module.PushVideo(&stdParms_, &instance_, &push);
    ++report_.framesPushed;
  }

  const HostRunOptions& options_;
  std::ostream& progress_;
  HostRunReport& report_;
  FileSource* source_;
  std::unique_ptr<LoadedModule> module_;
  xTransmitEntryFn entry_ = nullptr;
  tmStdParms stdParms_{};
  tmInstance instance_{};
};

// What a host does after an unload: it throws and catches exceptions (the unwinder walks every
// registered handler and module) and keeps running.
void CarryOnAfterUnload(std::ostream& progress) {
  progress << "sv-host: modules unloaded\n" << std::flush;
  try {
    throw std::runtime_error("after the unload");
  } catch (const std::exception& e) {
    progress << "sv-host: caught an exception " << e.what() << "\n" << std::flush;
  }
  RunUiThreadUntil(std::chrono::steady_clock::now() + std::chrono::seconds(3));
  progress << "sv-host: still running 3 s after the unload\n";
}

}  // namespace

HostRunReport RunHost(const HostRunOptions& options, std::ostream& progress, FileSource* source) {
  HostRunReport report;
  HostSession session(options, progress, report, source);
  if (!session.Load())
    return report;
  CtrlHostRun ctrl(options, progress, report);
  session.Startup();
  if (session.CreateInstance()) {
    if (options.setup)
      session.OpenSetup();
    session.QueryVideoMode();
    session.Activate(true);
    session.PushAll();
    session.Activate(false);
    session.Dispose();
  }
  ctrl.Finish(options.unload);
  session.Shutdown();
  if (options.unload)
    CarryOnAfterUnload(progress);
  auto& counters = HostSuites::Instance().counters();
  report.framesCreated = counters.framesCreated.load();
  report.framesDisposed = counters.framesDisposed.load();
  return report;
}

int ExitCodeFor(const HostRunReport& report) {
  if (!report.loaded)
    return 2;
  if (report.createResult == -4)
    return 3;
  if (report.createResult != 0 || report.startupResult != 0)
    return 1;
  if (report.framesDisposed != report.framesCreated)
    return 1;
  return 0;
}

}  // namespace Sorvane::hostsim
