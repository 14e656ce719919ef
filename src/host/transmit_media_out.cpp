// Encoded frames and audio on their way to the pacer.
#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "diag/host_entry_guard.h"
#include "diag/log_channels.h"
#include "host/encoder_pipeline.h"
#include "host/transmit_instance.h"
#include "net/framer.h"
#include "net/shared_transport.h"

namespace Sorvane {
namespace {

constexpr size_t kMaxFragments = kMaxFragmentTotal;
constexpr int kEmergencyFrames = 30;

using Datagrams = std::vector<std::vector<uint8_t>>;

// Collects each finished datagram as a buffer of its own.
DatagramSink CollectInto(Datagrams& out) {
  return [&out](const uint8_t* data, size_t length) { out.emplace_back(data, data + length); };
}

}  // namespace

// Runs inside a frame's encode or on the encoder's own output thread, neither of which an
// exception may reach (a datagram buffer that cannot be allocated): the frame is lost, and the
// next one is a keyframe so that the phone can decode again.
void TransmitInstance::OnEncodedFrame(const uint8_t* data, size_t size, bool keyframe,
                                      uint64_t timestampUs) {
  static HostEntryGuard guard(channels::kTransmit, "encoded frame");
  if (guard.Run([&] { SendEncodedFrame(data, size, keyframe, timestampUs); }))
    return;
  if (const std::shared_ptr<EncoderPipeline> pipeline = CopyPipeline())
    pipeline->RequestKeyframe();
}

void TransmitInstance::SendEncodedFrame(const uint8_t* data, size_t size, bool keyframe,
                                        uint64_t timestampUs) {
  NoteEncoderOutput();
  if (!transport_.HasClient())
    return;
  const size_t dataFragments = (size + kFragmentBytes - 1) / kFragmentBytes;
  const uint32_t parity = VideoParityFor(dataFragments);
  if (dataFragments + parity > kMaxFragments) {
    const std::shared_ptr<EncoderPipeline> pipeline = CopyPipeline();
    const int gopSize = pipeline ? pipeline->GopSize() : 1;
    if (pipeline) {
      pipeline->CompressEmergency(kEmergencyFrames);
      if (gopSize > 1)
        pipeline->RequestKeyframe();
    }
    Log(channels::kTransmit, kLogFault,
        "wire overrun: encoded %zu B → %zu frags > max %u (gopSize=%d) — triggered emergency "
        "compression for %d frames",
        size, dataFragments, static_cast<unsigned>(kMaxFragments), gopSize, kEmergencyFrames);
    return;
  }
  const size_t count = CountDatagrams(size, static_cast<uint8_t>(parity));
  if (count == 0)
    return;
  const uint16_t frameId = transport_.NextVideoFrameId();
  uint32_t sequence = transport_.ReserveVideoSequence(static_cast<uint32_t>(count));
  Log(channels::kTransmit, kLogDebug, "frame accepted: %zu B → %zu data + %u parity frags", size,
      dataFragments, parity);
  Datagrams datagrams;
  datagrams.reserve(dataFragments + parity);
  BuildDatagrams(StreamKind::Video, keyframe, static_cast<uint8_t>(parity), frameId, sequence,
                 static_cast<uint32_t>(timestampUs), data, size, CollectInto(datagrams), true);
  transport_.EnqueueVideo(std::move(datagrams));
}

void TransmitInstance::PushAudio(const sdk::tmPushAudio* push) {
  if (push == nullptr || !started_.load() || !transport_.HasClient())
    return;
  const uint32_t frames = push->inNumSamples;
  const uint32_t channels = push->inNumChannels;
  if (frames == 0 || channels == 0 || push->inBuffers == nullptr)
    return;
  for (uint32_t c = 0; c < channels; ++c) {
    if (push->inBuffers[c] == nullptr)
      return;  // a host bug must not crash us
  }
  const size_t samples = static_cast<size_t>(frames) * channels;
  audioScratch_.resize(samples + 2);
  auto* header = reinterpret_cast<uint8_t*>(audioScratch_.data());
  PutU32LE(header, audioSampleRate_.load());
  header[4] = static_cast<uint8_t>(channels);
  header[5] = 32;
  header[6] = header[7] = 0;
  float* interleaved = audioScratch_.data() + 2;
  for (uint32_t f = 0; f < frames; ++f) {
    for (uint32_t c = 0; c < channels; ++c)
      interleaved[f * channels + c] = push->inBuffers[c][f];
  }
  const auto* packet = reinterpret_cast<const uint8_t*>(audioScratch_.data());
  const size_t packetBytes = 8 + 4 * samples;
  const uint32_t timestamp = static_cast<uint32_t>(MicrosecondsSinceCreation());
  for (size_t offset = 0; offset < packetBytes; offset += kMaxFrameBytes) {
    const size_t chunk = std::min(kMaxFrameBytes, packetBytes - offset);
    const size_t count = CountDatagrams(chunk, 0);
    if (count == 0)
      continue;
    const uint16_t frameId = transport_.NextAudioFrameId();
    uint32_t sequence = transport_.ReserveAudioSequence(static_cast<uint32_t>(count));
    Datagrams datagrams;
    datagrams.reserve(count);
    BuildDatagrams(StreamKind::Audio, false, 0, frameId, sequence, timestamp, packet + offset,
                   chunk, CollectInto(datagrams), false);
    transport_.EnqueueAudio(std::move(datagrams));
  }
}

}  // namespace Sorvane
