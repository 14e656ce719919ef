#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "encoder/color_convert.h"
#include "sv-host/sync_marks.h"
#include "sv-host/test_scene.h"
#include "sv-host/tone.h"
#include "sv-receiver/app/click_detector.h"
#include "sv-receiver/app/lip_sync_meter.h"

namespace Sorvane::receiver {
namespace {

using hostsim::kSyncSampleRate;

// The host's tone with clicks, delivered in packets of `packetFrames` whose arrival time is the
// push time of their first sample plus `delayUs`; packets in `lost` (by number) never arrive.
std::vector<int64_t> ClicksFound(double seconds, uint32_t packetFrames, int64_t delayUs,
                                 const std::vector<size_t>& lost = {}, bool clicks = true) {
  hostsim::ToneGenerator tone(440.0, kSyncSampleRate, 2);
  if (clicks)
    tone.AddSyncClicks();
  ClickDetector detector;
  const auto packets = static_cast<size_t>(seconds * kSyncSampleRate / packetFrames);
  std::vector<float> interleaved(packetFrames * 2);
  for (size_t p = 0; p < packets; ++p) {
    const int64_t pushUs = static_cast<int64_t>(p * packetFrames * 1000000ull / kSyncSampleRate);
    float** planes = tone.Next(packetFrames);
    for (uint32_t i = 0; i < packetFrames; ++i) {
      interleaved[2 * i] = planes[0][i];
      interleaved[2 * i + 1] = planes[1][i];
    }
    if (std::find(lost.begin(), lost.end(), p) == lost.end())
      detector.Push(interleaved.data(), packetFrames, 2, kSyncSampleRate, pushUs + delayUs);
  }
  return detector.clickTimesUs();
}

TEST(ClickDetector, FindsEveryClickAtItsStartWhateverThePacketing) {
  for (const uint32_t packetFrames : {256u, 1024u, 1000u, 4800u}) {
    for (const int64_t delayUs : {0ll, 37000ll, -12000ll}) {
      const auto clicks = ClicksFound(5.2, packetFrames, delayUs);
      ASSERT_EQ(clicks.size(), 6u) << packetFrames << " " << delayUs;
      for (size_t k = 0; k < clicks.size(); ++k)
        EXPECT_NEAR(clicks[k], static_cast<int64_t>(k) * 1000000 + delayUs, 1000) << k;
    }
  }
}

TEST(ClickDetector, ALostClickIsMissingAndTheOthersStayInPlace) {
  // 100 ms packets: packet 20 holds the whole click at 2 s.
  const auto clicks = ClicksFound(4.2, 4800, 5000, {20});
  ASSERT_EQ(clicks.size(), 4u);
  EXPECT_NEAR(clicks[2], 3000000 + 5000, 1000);
}

TEST(ClickDetector, ThePlainToneHasNoClicks) {
  EXPECT_TRUE(ClicksFound(5, 1024, 0, {}, false).empty());
}

// A decoded luma plane of the scene for `index`, lit on sync frames, at the given decoded size.
std::vector<uint8_t> SceneLuma(uint32_t index, int fps, int sw, int sh, int w, int h,
                               bool marks = true) {
  std::vector<uint8_t> bgra(static_cast<size_t>(sw) * sh * 4);
  hostsim::RenderTestScene(bgra.data(), sw, sh, sw * 4, {index, 0});
  if (marks)
    hostsim::DrawSyncMarker(bgra.data(), sw, sh, sw * 4, hostsim::IsSyncFrame(index, fps));
  std::vector<uint8_t> scaled(static_cast<size_t>(w) * h * 4);
  ScaleNearest(bgra.data(), sw * 4, sw, sh, scaled.data(), w * 4, w, h);
  std::vector<uint8_t> luma(static_cast<size_t>(w) * h), chroma(static_cast<size_t>(w) * h);
  ConvertCpu(scaled.data(), w * 4, luma.data(), chroma.data(), w, h);
  return luma;
}

TEST(SyncMarker, LitOnlyOnSyncFramesAtAnyDecodedScale) {
  for (const auto& [w, h] : {std::pair{1280, 720}, {852, 480}, {320, 180}}) {
    for (uint32_t i = 0; i < 65; ++i) {
      const auto luma = SceneLuma(i, 30, 1280, 720, w, h);
      EXPECT_EQ(hostsim::ReadSyncMarker(luma.data(), w, h, w), i % 30 == 0) << w << " " << i;
    }
  }
}

TEST(SyncMarker, ThePlainSceneNeverReadsAsLit) {
  // The moving white box crosses every column of the picture in this many frames.
  for (uint32_t i = 0; i < 400; i += 3) {
    const auto luma = SceneLuma(i, 30, 640, 360, 640, 360, false);
    EXPECT_FALSE(hostsim::ReadSyncMarker(luma.data(), 640, 360, 640)) << i;
  }
}

TEST(LipSyncMatch, KnownOffsetsIncludingNegativeAndAMissingClick) {
  std::vector<int64_t> markers, clicks;
  for (int k = 0; k < 10; ++k) {
    markers.push_back(5000000 + k * 1000000);
    if (k != 4)
      clicks.push_back(markers.back() + (k % 2 ? -20000 : 30000));
  }
  const LipSyncReport r = LipSyncMeter::Match(markers, clicks);
  EXPECT_EQ(r.markers, 10u);
  EXPECT_EQ(r.clicks, 9u);
  EXPECT_EQ(r.pairs, 9u);
  EXPECT_DOUBLE_EQ(r.minMs, -20);
  EXPECT_DOUBLE_EQ(r.maxMs, 30);
  EXPECT_DOUBLE_EQ(r.medianMs, -20);  // five at -20, four at +30
}

TEST(LipSyncMatch, DriftIsTheSlopeInMillisecondsPerMinute) {
  std::vector<int64_t> markers, clicks;
  for (int k = 0; k < 600; ++k) {  // ten minutes, audio slipping 1 ms every 10 s
    markers.push_back(k * 1000000ll);
    clicks.push_back(markers.back() - 8000 + (k / 10) * 1000);
  }
  const LipSyncReport r = LipSyncMeter::Match(markers, clicks);
  EXPECT_EQ(r.pairs, 600u);
  EXPECT_NEAR(r.driftMsPerMinute, 6.0, 0.1);
  EXPECT_NEAR(r.minMs, -8, 1e-9);
}

TEST(LipSyncMatch, ALateMarkerNowAndThenDoesNotFakeADrift) {
  std::vector<int64_t> markers, clicks;
  for (int k = 0; k < 120; ++k) {
    markers.push_back(k * 1000000ll + (k % 17 == 16 ? 400000 : 0));  // a stalled picture
    clicks.push_back(k * 1000000ll - 20000);
  }
  const LipSyncReport r = LipSyncMeter::Match(markers, clicks);
  EXPECT_NEAR(r.driftMsPerMinute, 0.0, 0.5);
  EXPECT_DOUBLE_EQ(r.medianMs, -20);
  EXPECT_DOUBLE_EQ(r.minMs, -420);
}

TEST(LipSyncMatch, NothingPairsBeyondHalfASecondOrWithoutMarkers) {
  EXPECT_EQ(LipSyncMeter::Match({1000000}, {1600000}).pairs, 0u);
  EXPECT_EQ(LipSyncMeter::Match({}, {1000000, 2000000}).pairs, 0u);
  // Each marker pairs once even when two clicks are near it.
  EXPECT_EQ(LipSyncMeter::Match({1000000}, {1010000, 1020000}).pairs, 1u);
}

TEST(LipSyncMeter, PicturesAndSoundWithAKnownOffset) {
  constexpr int kFps = 30;
  constexpr int64_t kAudioLateUs = -15000;  // the sound arrives 15 ms before the picture
  LipSyncMeter meter;
  hostsim::ToneGenerator tone(440.0, kSyncSampleRate, 2);
  tone.AddSyncClicks();
  std::vector<float> interleaved(1600 * 2);
  for (uint32_t i = 0; i < 4 * kFps; ++i) {
    const int64_t pushUs = i * 1000000ll / kFps;
    const auto luma = SceneLuma(i, kFps, 320, 180, 320, 180);
    meter.OnPicture(luma.data(), 320, 180, 320, pushUs + 40000);
    float** planes = tone.Next(1600);
    for (int s = 0; s < 1600; ++s)
      interleaved[2 * s] = interleaved[2 * s + 1] = planes[0][s];
    meter.OnAudio(interleaved.data(), 1600, 2, kSyncSampleRate, pushUs + 40000 + kAudioLateUs);
  }
  const LipSyncReport r = meter.Report();
  EXPECT_EQ(r.markers, 4u);
  EXPECT_EQ(r.pairs, 4u);
  EXPECT_NEAR(r.medianMs, -15, 1);
  EXPECT_NEAR(r.minMs, -15, 1);
  EXPECT_NEAR(r.maxMs, -15, 1);
}

}  // namespace
}  // namespace Sorvane::receiver
