// sv-encode: encodes a moving synthetic scene through the Linux encoder and its real delivery
// routine, and prints the latency from EncodeFrame entry to the output callback as JSON.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "encoder/color_convert.h"
#include "encoder/encoder_settings_text.h"
#include "encoder/libav_encoder.h"
#include "host/encoder_pipeline.h"
#include "sv-host/file_source.h"
#include "sv-host/test_scene.h"
#include "sv-receiver/app/video_decoder.h"
#include "synthetic_scene.h"

namespace {

using namespace Sorvane;

EncoderSettings DefaultSettings() {
  EncoderSettings s;
  s.codec = Codec::H264;
  s.width = 1920;
  s.height = 1080;
  s.fps = 30;
  s.gopFrames = 60;
  s.bitrateBps = 15'000'000;
  s.rateControl = RateControlMode::Bitrate;
  return s;
}

struct Options {
  EncoderSettings settings = DefaultSettings();  // opened through LibavEncoder::Apply
  int frames = 300;
  std::string out;
  std::string preset;
  bool psnr = false;
  bool hostScene = false;
  std::string source;     // a video file's pictures instead of a generated scene
  bool realtime = false;  // push at the frame rate, as a host does
  int switchWidth = 0;    // a seamless switch to this size through the encoder pipeline
  int switchHeight = 0;
  int switchAt = -1;
};

constexpr const char* kUsage =
    "usage: sv-encode [--codec h264|hevc] [--size WxH] [--fps N] [--gop N] [--frames N]\n"
    "                 [--bitrate BPS] [--out FILE] [--psnr] [--preset NAME]\n"
    "                 [--scene synthetic|host] [--switch-to WxH [--switch-at N]]\n"
    "                 [--source FILE] [--realtime] [--settings TEXT] [--help]\n"
    "Encodes N frames of a moving synthetic scene through the Linux encoder (the first\n"
    "libavcodec encoder that opens here, else libx264 / libx265) and the real output routine,\n"
    "and prints JSON: latency from EncodeFrame entry to the output callback (median, p99),\n"
    "the colour conversion's share of it, and whether the rate is kept in real time.\n"
    "  --out FILE    write the Annex B stream (parameter sets before every keyframe)\n"
    "  --psnr        decode every access unit and report luma PSNR against the source\n"
    "  --preset NAME libx264 / libx265 preset instead of the built-in one (measurements)\n"
    "  --scene NAME  synthetic (default: gradient, scrolling detail, text, moving shapes) or\n"
    "                host (the host simulator's scene)\n"
    "  --source FILE the pictures of a video file (scaled to --size), looping\n"
    "  --realtime    push frames at --fps as a host does instead of back to back\n"
    "  --settings TEXT  every encoder setting at once, as the plug-in's encoder log prints\n"
    "                them (\"encoder settings: codec=H264 size=WxH fps=N bitrate=BPS peak=BPS\n"
    "                gop=N rc=Bitrate|Quality|VBR quality=Q cap=BYTES\"): opens the encoder\n"
    "                exactly as the stream's (replaces --codec --size --fps --gop --bitrate)\n"
    "  --switch-to WxH  push frames of WxH in real time through the encoder pipeline and ask\n"
    "                it at frame N (default a third of the frames) for a seamless switch to\n"
    "                WxH: reports the time from Reconfigure to the swap and the frames pushed\n"
    "                meanwhile (each went to both encoders once the copy was configured)\n"
    "Defaults: h264, 1920x1080, 30 fps, GOP 60, 300 frames, 15000000 bps.\n";

bool ParseSize(const char* text, int* width, int* height) {
  return std::sscanf(text, "%dx%d", width, height) == 2 && *width > 0 && *height > 0;
}

bool Parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    auto needValue = [&]() {
      if (value == nullptr)
        std::fprintf(stderr, "sv-encode: %s needs a value\n", arg.c_str());
      ++i;
      return value != nullptr;
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--psnr") {
      o->psnr = true;
    } else if (arg == "--codec") {
      if (!needValue())
        return false;
      if (std::strcmp(value, "h264") == 0)
        o->settings.codec = Codec::H264;
      else if (std::strcmp(value, "hevc") == 0)
        o->settings.codec = Codec::HEVC;
      else
        return false;
    } else if (arg == "--size") {
      if (!needValue() || !ParseSize(value, &o->settings.width, &o->settings.height))
        return false;
    } else if (arg == "--settings") {
      if (!needValue())
        return false;
      const auto settings = ParseEncoderSettings(value);
      if (!settings) {
        std::fprintf(stderr, "sv-encode: unreadable --settings \"%s\"\n", value);
        return false;
      }
      o->settings = *settings;
    } else if (arg == "--fps" || arg == "--gop" || arg == "--frames" || arg == "--bitrate") {
      if (!needValue())
        return false;
      const long n = std::strtol(value, nullptr, 10);
      if (n < 1)
        return false;
      if (arg == "--fps")
        o->settings.fps = static_cast<int>(n);
      else if (arg == "--gop")
        o->settings.gopFrames = static_cast<int>(n);
      else if (arg == "--frames")
        o->frames = static_cast<int>(n);
      else
        o->settings.bitrateBps = static_cast<uint32_t>(n);
    } else if (arg == "--out") {
      if (!needValue())
        return false;
      o->out = value;
    } else if (arg == "--switch-to") {
      if (!needValue() || !ParseSize(value, &o->switchWidth, &o->switchHeight))
        return false;
    } else if (arg == "--switch-at") {
      if (!needValue())
        return false;
      o->switchAt = static_cast<int>(std::strtol(value, nullptr, 10));
    } else if (arg == "--scene") {
      if (!needValue())
        return false;
      if (std::strcmp(value, "host") == 0)
        o->hostScene = true;
      else if (std::strcmp(value, "synthetic") != 0)
        return false;
    } else if (arg == "--source") {
      if (!needValue())
        return false;
      o->source = value;
    } else if (arg == "--realtime") {
      o->realtime = true;
    } else if (arg == "--preset") {
      if (!needValue())
        return false;
      o->preset = value;
    } else {
      std::fprintf(stderr, "sv-encode: unknown argument %s\n", arg.c_str());
      return false;
    }
  }
  return true;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  const size_t index = static_cast<size_t>(std::ceil(p * values.size())) - 1;
  return values[std::min(index, values.size() - 1)];
}

double Mean(const std::vector<double>& values) {
  double sum = 0;
  for (double v : values)
    sum += v;
  return values.empty() ? 0 : sum / values.size();
}

double LumaPsnr(const uint8_t* a, int aStride, const uint8_t* b, int bStride, int w, int h) {
  double squared = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double d = double(a[y * aStride + x]) - double(b[y * bStride + x]);
      squared += d * d;
    }
  }
  const double mse = squared / (double(w) * h);
  return mse <= 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

struct Run {
  std::vector<double> latencyMs;  // EncodeFrame entry → callback, per frame with output
  std::vector<double> callMs;     // whole EncodeFrame call, per frame
  std::vector<double> convertMs;
  std::vector<double> psnr;
  uint64_t bytes = 0;
  int keyframes = 0;
  int outputs = 0;
  int missing = 0;  // frames whose output did not come out inside their own call
};

struct Switch {
  int64_t reconfigureNs = 0;
  double swapMs = -1;
  int framesUntilSwap = 0;
};

int Main(const Options& o) {
  const EncoderSettings& settings = o.settings;
  auto encoder = std::make_shared<LibavEncoder>();
  if (!o.preset.empty())
    encoder->SetSoftwarePresetForMeasurement(o.preset);
  if (!encoder->Apply(settings)) {
    std::fprintf(stderr, "sv-encode: opening %s failed (see the encoder log)\n",
                 FormatEncoderSettings(settings).c_str());
    return 1;
  }
  std::FILE* out = nullptr;
  if (!o.out.empty() && (out = std::fopen(o.out.c_str(), "wb")) == nullptr) {
    std::fprintf(stderr, "sv-encode: cannot write %s\n", o.out.c_str());
    return 1;
  }
  const bool switching = o.switchWidth > 0;
  const int switchAt = o.switchAt >= 0 ? o.switchAt : o.frames / 3;
  // The source: the encoder's size, or the switch's target size (scaled until the switch).
  const int w = switching ? o.switchWidth : encoder->Width();
  const int h = switching ? o.switchHeight : encoder->Height();
  std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4);
  std::vector<uint8_t> sourceY(static_cast<size_t>(w) * h), sourceUV(static_cast<size_t>(w) * h);
  const auto decoderCodec = settings.codec == Codec::H264 ? receiver::VideoDecoder::Codec::H264
                                                          : receiver::VideoDecoder::Codec::HEVC;
  Run run;
  receiver::VideoDecoder decoder([&](const receiver::DecodedPicture& p) {
    if (p.width == w && p.height == h)
      run.psnr.push_back(LumaPsnr(p.luma, p.lumaStride, sourceY.data(), w, w, h));
  });
  int64_t entryNs = 0;
  bool gotOutput = false;
  const EncodedFrameCallback onOutput = [&](const uint8_t* data, size_t size, bool key, uint64_t) {
    if (!gotOutput)
      run.latencyMs.push_back((SteadyNowNs() - entryNs) / 1e6);
    gotOutput = true;
    ++run.outputs;
    run.bytes += size;
    run.keyframes += key ? 1 : 0;
    if (out != nullptr)
      std::fwrite(data, 1, size, out);
    if (o.psnr)
      decoder.Decode(decoderCodec, data, size);
  };
  std::unique_ptr<EncoderPipeline> pipeline;
  if (switching) {
    pipeline = std::make_unique<EncoderPipeline>(encoder);
    pipeline->SetOutputCallback(onOutput);
  } else {
    encoder->SetOutputCallback(onOutput);
  }
  std::unique_ptr<hostsim::FileSource> file;
  if (!o.source.empty()) {
    std::string error;
    if (!(file = hostsim::FileSource::Open(o.source, w, h, &error))) {
      std::fprintf(stderr, "sv-encode: %s\n", error.c_str());
      return 1;
    }
  }
  Switch change;
  const std::string description = encoder->Description();
  const int64_t started = SteadyNowNs();
  int64_t busyNs = 0;
  for (int i = 0; i < o.frames; ++i) {
    const auto index = static_cast<uint32_t>(i);
    if (file != nullptr)
      file->NextPicture(bgra.data(), w * 4);
    else if (o.hostScene)
      hostsim::RenderTestScene(bgra.data(), w, h, w * 4,
                               {index, uint64_t{index} * 1'000'000 / settings.fps});
    else
      bench::DrawSyntheticScene(bgra.data(), w, h, w * 4, index);
    if (o.psnr)
      ConvertCpu(bgra.data(), w * 4, sourceY.data(), sourceUV.data(), w, h);
    if (switching && i == switchAt) {
      EncoderSettings to = settings;
      to.width = o.switchWidth;
      to.height = o.switchHeight;
      change.reconfigureNs = SteadyNowNs();
      pipeline->Reconfigure(to);
    }
    const uint64_t convertBefore = encoder->ConversionNs();
    gotOutput = false;
    entryNs = SteadyNowNs();
    if (pipeline != nullptr)
      pipeline->Encode(bgra.data(), w, h, w * 4);
    else
      encoder->EncodeFrame(bgra.data(), w, h, w * 4);
    const int64_t callNs = SteadyNowNs() - entryNs;
    busyNs += callNs;
    run.callMs.push_back(callNs / 1e6);
    run.convertMs.push_back((encoder->ConversionNs() - convertBefore) / 1e6);
    run.missing += gotOutput ? 0 : 1;
    if (switching && i >= switchAt && change.swapMs < 0 && pipeline->Width() == o.switchWidth &&
        pipeline->Height() == o.switchHeight) {
      change.swapMs = (SteadyNowNs() - change.reconfigureNs) / 1e6;
      change.framesUntilSwap = i - switchAt + 1;
    }
    if (switching || o.realtime) {  // push in real time, as a host does
      const int64_t due = started + (i + 1) * 1'000'000'000LL / settings.fps;
      const int64_t now = SteadyNowNs();
      if (due > now)
        SteadyClock().SleepForNs(due - now);
    }
  }
  const double wallS = (SteadyNowNs() - started) / 1e9;
  if (pipeline != nullptr)
    pipeline->Shutdown();
  if (out != nullptr)
    std::fclose(out);

  const double budgetMs = 1000.0 / settings.fps;
  const double meanCall = Mean(run.callMs);
  std::printf("{\n");
  std::printf("  \"encoder\": \"%s\",\n", description.c_str());
  std::printf("  \"preset\": \"%s\", \"scene\": \"%s\",\n",
              o.preset.empty() ? "default" : o.preset.c_str(),
              file != nullptr ? "file"
              : o.hostScene   ? "host"
                              : "synthetic");
  std::printf("  \"codec\": \"%s\", \"size\": \"%dx%d\", \"fps\": %d, \"gop\": %d,\n",
              settings.codec == Codec::H264 ? "h264" : "hevc", w, h, settings.fps,
              settings.gopFrames);
  std::printf("  \"settings\": \"%s\",\n", FormatEncoderSettings(encoder->Settings()).c_str());
  std::printf("  \"frames\": %d, \"outputs\": %d, \"keyframes\": %d, \"bytes\": %llu,\n", o.frames,
              run.outputs, run.keyframes, static_cast<unsigned long long>(run.bytes));
  std::printf("  \"frames_without_output_in_their_call\": %d,\n", run.missing);
  std::printf(
      "  \"latency_ms\": {\"median\": %.3f, \"p99\": %.3f, \"mean\": %.3f, \"max\": %.3f},\n",
      Percentile(run.latencyMs, 0.5), Percentile(run.latencyMs, 0.99), Mean(run.latencyMs),
      Percentile(run.latencyMs, 1.0));
  std::printf("  \"conversion_ms\": {\"median\": %.3f, \"p99\": %.3f},\n",
              Percentile(run.convertMs, 0.5), Percentile(run.convertMs, 0.99));
  std::printf("  \"conversion_share\": %.3f,\n",
              Mean(run.convertMs) / std::max(1e-9, Mean(run.latencyMs)));
  std::printf("  \"encode_call_ms\": {\"mean\": %.3f, \"p99\": %.3f},\n", meanCall,
              Percentile(run.callMs, 0.99));
  std::printf(
      "  \"frame_budget_ms\": %.3f, \"realtime\": %s,\n", budgetMs,
      meanCall <= budgetMs && Percentile(run.callMs, 0.99) <= 2 * budgetMs ? "true" : "false");
  std::printf("  \"encoder_busy_fps\": %.1f, \"wall_s\": %.3f",
              1e9 * o.frames / std::max<int64_t>(1, busyNs), wallS);
  if (switching) {
    std::printf(
        ",\n  \"switch\": {\"to\": \"%dx%d\", \"at_frame\": %d, "
        "\"reconfigure_to_swap_ms\": %.1f, \"frames_pushed_until_swap\": %d, "
        "\"gapless\": %s}",
        o.switchWidth, o.switchHeight, switchAt, change.swapMs, change.framesUntilSwap,
        run.missing == 0 ? "true" : "false");
  }
  if (o.psnr) {
    std::printf(",\n  \"psnr_y_db\": {\"min\": %.2f, \"mean\": %.2f, \"decoded\": %zu}",
                run.psnr.empty() ? 0.0 : *std::min_element(run.psnr.begin(), run.psnr.end()),
                Mean(run.psnr), run.psnr.size());
  }
  std::printf("\n}\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return Main(options);
}
