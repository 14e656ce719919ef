#include "sv-receiver/app/summary.h"

#include <cstdio>

#include "sv-receiver/app/json_writer.h"
#include "sv-receiver/app/lip_sync_summary.h"
#include "sv-receiver/app/recovery_summary.h"

namespace Sorvane::receiver {
namespace {

void Latency(JsonWriter& json, const char* key, const LatencyStats& stats) {
  json.BeginObject(key)
      .Value("samples", static_cast<uint64_t>(stats.count()))
      .Value("medianMs", stats.Percentile(50) / 1000.0)
      .Value("p95Ms", stats.Percentile(95) / 1000.0)
      .Value("p99Ms", stats.Percentile(99) / 1000.0)
      .Value("maxMs", stats.Percentile(100) / 1000.0)
      .EndObject();
}

void Assembly(JsonWriter& json, const char* key, const AssemblerStats& s) {
  json.BeginObject(key)
      .Value("datagramsAccepted", s.datagramsAccepted)
      .Value("framesComplete", s.framesComplete)
      .Value("framesRebuiltByParity", s.framesRebuiltByParity)
      .Value("framesLost", s.framesLost)
      .Value("lateFragments", s.lateFragments)
      .Value("oneWayDelayMeanMs", s.delaySamples ? s.delaySumUs / s.delaySamples / 1000.0 : 0.0)
      .Value("oneWayDelayMaxMs", s.delayMaxUs / 1000.0);
  json.BeginObject("rejected");
  for (int i = 0; i < static_cast<int>(RejectReason::Count); ++i) {
    json.Value(RejectReasonName(static_cast<RejectReason>(i)), s.rejected[i]);
  }
  json.EndObject().EndObject();
}

RecoveryFacts RecoveryOf(const MediaReceiver& media) {
  RecoveryFacts facts;
  facts.recovery = media.Recovery();
  facts.ordering = media.Ordering();
  facts.link = media.Link();
  facts.weather = media.Weather();
  facts.foreignDatagrams = media.ForeignDatagrams();
  return facts;
}

}  // namespace

std::string SummaryJson(const RunFacts& run, const ControlSession& control,
                        const MediaReceiver& media, const VideoSinkStats& v,
                        const LipSyncReport* lipSync) {
  const StreamDescription d = control.Description();
  JsonWriter json;
  json.BeginObject();
  json.Value("seconds", run.seconds).Value("pairing", control.outcome());
  json.Value("pairingMs", control.PairingMs());
  json.Value("connectionLost", control.connectionLost());
  json.BeginObject("messages");
  for (const auto& [name, count] : control.MessageCounts())
    json.Value(name.c_str(), count);
  json.EndObject();
  json.BeginObject("acks");
  for (const auto& [opcode, count] : control.AckCounts()) {
    char key[8];
    std::snprintf(key, sizeof key, "0x%02X", opcode);
    json.Value(key, count);
  }
  json.EndObject();
  json.BeginObject("streamDescription")
      .Value("sourceWidth", d.sourceWidth)
      .Value("sourceHeight", d.sourceHeight)
      .Value("sourceFps", static_cast<double>(d.sourceFps))
      .Value("streamWidth", d.streamWidth)
      .Value("streamHeight", d.streamHeight)
      .Value("streamFps", d.streamFps)
      .Value("frameCap", static_cast<uint64_t>(d.frameCap))
      .Value("encoder", d.encoderInfo)
      .Value("hostPlatform", d.platform)
      .Value("hostArchitecture", d.architecture)
      .Value("transmitState", d.transmitState)
      .Value("playbackStateMessages", d.playbackStateMessages)
      .Value("playbackState", d.playbackState);
  json.BeginArray("encoderInfoHistory");
  for (const auto& text : d.encoderInfoHistory)
    json.Value(nullptr, text);
  json.EndArray();
  json.BeginArray("engineIds");
  for (size_t i = 0; i < d.engines.size(); i += 3)
    json.Value(nullptr, d.engines[i]);
  json.EndArray().EndObject();
  json.BeginObject("video")
      .Value("framesReceived", v.framesReceived)
      .Value("keyframes", v.keyframes)
      .Value("bytesReceived", v.bytesReceived)
      .Value("framesDecoded", v.framesDecoded)
      .Value("decodeErrors", v.decodeErrors)
      .Value("h264Frames", v.h264Frames)
      .Value("hevcFrames", v.hevcFrames)
      .Value("decodedWidth", v.lastWidth)
      .Value("decodedHeight", v.lastHeight)
      .Value("receivedFps", run.seconds > 0 ? v.framesReceived / run.seconds : 0.0)
      .Value("decodedFps", run.seconds > 0 ? v.framesDecoded / run.seconds : 0.0)
      .Value("stampsRead", v.stampsRead)
      .Value("firstFrameIndex", v.firstFrameIndex)
      .Value("lastFrameIndex", v.lastFrameIndex)
      .Value("outOfOrder", v.outOfOrder)
      .Value("repeats", v.repeats)
      .Value("skippedIndices", v.skippedIndices)
      .Value("psnrSamples", v.psnrSamples)
      .Value("psnrMinDb", v.psnrMinDb)
      .Value("psnrMeanDb", v.psnrSamples ? v.psnrSumDb / v.psnrSamples : 0.0)
      .Value("snapshots", v.snapshots)
      .Value("streamFile", run.streamFile);
  json.BeginArray("decodedIndexRuns");
  for (const auto& [first, last] : v.decodedRuns) {
    json.BeginArray(nullptr);
    json.Value(nullptr, first).Value(nullptr, last);
    json.EndArray();
  }
  json.EndArray();
  Latency(json, "pushToDecoded", v.endToEndUs);
  Latency(json, "hostSide", v.hostSideUs);
  Latency(json, "decode", v.decodeUs);
  json.EndObject();
  const AudioStats a = media.Audio();
  json.BeginObject("audio")
      .Value("packets", a.packets)
      .Value("malformed", a.malformed)
      .Value("sampleFrames", a.sampleFrames)
      .Value("sampleRate", static_cast<uint64_t>(a.sampleRate))
      .Value("channels", static_cast<uint64_t>(a.channels))
      .EndObject();
  json.Value("datagramsDroppedOnPurpose", media.DroppedOnPurpose());
  Assembly(json, "videoAssembly", media.VideoAssembly());
  Assembly(json, "audioAssembly", media.AudioAssembly());
  Recovery(json, RecoveryOf(media));
  if (lipSync != nullptr)
    LipSync(json, *lipSync);
  json.EndObject();
  return json.text() + "\n";
}

std::string SummaryText(const RunFacts& run, const ControlSession& control,
                        const MediaReceiver& media, const VideoSinkStats& v,
                        const LipSyncReport* lipSync) {
  const AssemblerStats va = media.VideoAssembly();
  char text[1024];
  std::snprintf(
      text, sizeof text,
      "pairing: %s\n"
      "video: %llu frames received, %llu decoded (%dx%d), %llu rebuilt by parity, %llu lost, "
      "%llu decode errors, order: %llu out of order / %llu repeats\n"
      "latency push→decoded: median %.1f ms, p95 %.1f ms (%zu frames); host side (push→last "
      "datagram): median %.1f ms, p95 %.1f ms\n"
      "picture: PSNR min %.1f dB over %llu checks; audio: %llu packets, %llu sample frames\n"
      "output: %s\n"
      "host play state: %llu kPlaybackState messages, last state %d\n",
      control.outcome().c_str(), static_cast<unsigned long long>(v.framesReceived),
      static_cast<unsigned long long>(v.framesDecoded), v.lastWidth, v.lastHeight,
      static_cast<unsigned long long>(va.framesRebuiltByParity),
      static_cast<unsigned long long>(va.framesLost),
      static_cast<unsigned long long>(v.decodeErrors),
      static_cast<unsigned long long>(v.outOfOrder), static_cast<unsigned long long>(v.repeats),
      v.endToEndUs.Percentile(50) / 1000, v.endToEndUs.Percentile(95) / 1000, v.endToEndUs.count(),
      v.hostSideUs.Percentile(50) / 1000, v.hostSideUs.Percentile(95) / 1000, v.psnrMinDb,
      static_cast<unsigned long long>(v.psnrSamples),
      static_cast<unsigned long long>(media.Audio().packets),
      static_cast<unsigned long long>(media.Audio().sampleFrames),
      run.outDir.empty() ? "(none)" : run.outDir.c_str(),
      static_cast<unsigned long long>(control.Description().playbackStateMessages),
      control.Description().playbackState);
  return text + RecoveryText(RecoveryOf(media)) +
         (lipSync != nullptr ? LipSyncText(*lipSync) : std::string());
}

}  // namespace Sorvane::receiver
