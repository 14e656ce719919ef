#include "sv-host/host_suites.h"

#include <cstring>
#include <string>

namespace Sorvane::hostsim {
namespace {

using namespace sdk;

// A frame as the host keeps it; a PPixHand points at its first member.
struct FrameRecord {
  PPix* self = nullptr;
  std::vector<uint8_t> pixels;
  int width = 0;
  int height = 0;
  int rowBytes = 0;
  PrPixelFormat format = PrPixelFormat_BGRA_4444_8u;
};

FrameRecord* RecordOf(PPixHand frame) {
  return reinterpret_cast<FrameRecord*>(frame);
}

prSuiteError Dispose(PPixHand frame) {
  if (frame == nullptr)
    return suiteError_Fail;
  HostSuites::Instance().counters().framesDisposed++;
  delete RecordOf(frame);
  return suiteError_NoError;
}
prSuiteError GetPixels(PPixHand frame, PrPPixBufferAccess, char** pixels) {
  if (frame == nullptr || pixels == nullptr)
    return suiteError_Fail;
  *pixels = reinterpret_cast<char*>(RecordOf(frame)->pixels.data());
  return suiteError_NoError;
}
prSuiteError GetBounds(PPixHand frame, prRect* bounds) {
  if (frame == nullptr || bounds == nullptr)
    return suiteError_Fail;
  *bounds = prRect{0, 0, RecordOf(frame)->width, RecordOf(frame)->height};
  return suiteError_NoError;
}
prSuiteError GetRowBytes(PPixHand frame, csSDK_int32* rowBytes) {
  if (frame == nullptr || rowBytes == nullptr)
    return suiteError_Fail;
  *rowBytes = RecordOf(frame)->rowBytes;
  return suiteError_NoError;
}
prSuiteError GetPixelAspectRatio(PPixHand, csSDK_uint32* num, csSDK_uint32* den) {
  if (num)
    *num = 1;
  if (den)
    *den = 1;
  return suiteError_NoError;
}
prSuiteError GetPixelFormat(PPixHand frame, PrPixelFormat* format) {
  if (frame == nullptr || format == nullptr)
    return suiteError_Fail;
  *format = RecordOf(frame)->format;
  return suiteError_NoError;
}
prSuiteError GetUniqueKey(PPixHand, unsigned char*, size_t) {
  return suiteError_Fail;
}
prSuiteError GetUniqueKeySize(size_t* size) {
  if (size)
    *size = 0;
  return suiteError_NoError;
}
prSuiteError GetRenderTime(PPixHand, csSDK_int32* ms) {
  if (ms)
    *ms = 0;
  return suiteError_NoError;
}

const PrSDKPPixSuite kPPixSuite{Dispose,      GetPixels,           GetBounds,
                                GetRowBytes,  GetPixelAspectRatio, GetPixelFormat,
                                GetUniqueKey, GetUniqueKeySize,    GetRenderTime};

prSuiteError GetTicksPerSecond(PrTime* ticks) {
  if (ticks == nullptr)
    return suiteError_Fail;
  *ticks = HostSuites::Instance().ticksPerSecond();
  return suiteError_NoError;
}
prSuiteError GetTicksPerVideoFrame(PrVideoFrameRates, PrTime*) {
  return suiteError_Fail;
}
prSuiteError GetTicksPerAudioSample(float, PrTime*) {
  return suiteError_Fail;
}

const PrSDKTimeSuite kTimeSuite{GetTicksPerSecond, GetTicksPerVideoFrame, GetTicksPerAudioSample};

constexpr SPErr kSuiteNotFound = 0x53214664;  // 'S!Fd'

SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
  if (name == nullptr || suite == nullptr)
    return kSuiteNotFound;
  *suite = nullptr;
  const std::string wanted(name);
  if (wanted == kPrSDKPPixSuite && version == kPrSDKPPixSuiteVersion) {
    *suite = &kPPixSuite;
  } else if (wanted == kPrSDKTimeSuite && version == kPrSDKTimeSuiteVersion) {
    if (HostSuites::Instance().timeSuiteAvailable())
      *suite = &kTimeSuite;
  }
  if (*suite == nullptr)
    return kSuiteNotFound;
  HostSuites::Instance().counters().suiteAcquires++;
  return kSPNoError;
}
SPErr ReleaseSuite(const char*, int32_t) {
  HostSuites::Instance().counters().suiteReleases++;
  return kSPNoError;
}
SPBoolean IsEqual(const char* a, const char* b) {
  return a && b && std::strcmp(a, b) == 0;
}
SPErr AllocateBlock(size_t size, void** block) {
  if (block == nullptr)
    return kSuiteNotFound;
  *block = ::operator new(size, std::nothrow);
  return *block ? kSPNoError : -108;
}
SPErr FreeBlock(void* block) {
  ::operator delete(block);
  return kSPNoError;
}
SPErr ReallocateBlock(void*, size_t, void**) {
  return -108;
}
SPErr Undefined() {
  return kSPNoError;
}

const SPBasicSuite kBasicSuite{AcquireSuite, ReleaseSuite,    IsEqual,  AllocateBlock,
                               FreeBlock,    ReallocateBlock, Undefined};

SPBasicSuite* GetBasicSuite() {
  return const_cast<SPBasicSuite*>(&kBasicSuite);
}

PlugUtilFuncs gUtilFuncs{nullptr, nullptr, nullptr,       nullptr, nullptr,
                         nullptr, nullptr, GetBasicSuite, nullptr};
piSuites gPiSuites{9, nullptr, nullptr, nullptr, &gUtilFuncs, nullptr};

}  // namespace

HostSuites& HostSuites::Instance() {
  static HostSuites suites;
  return suites;
}

const SPBasicSuite* HostSuites::Basic() const {
  return &kBasicSuite;
}
piSuites* HostSuites::PiSuites() {
  return &gPiSuites;
}

PPixHand HostSuites::NewFrame(int width, int height, int rowBytes, PrPixelFormat format) {
  auto* record = new FrameRecord();
  record->self = reinterpret_cast<PPix*>(record);
  record->width = width;
  record->height = height;
  record->rowBytes = rowBytes;
  record->format = format;
  record->pixels.assign(static_cast<size_t>(rowBytes > 0 ? rowBytes : 0) *
                            static_cast<size_t>(height > 0 ? height : 0),
                        0);
  counters_.framesCreated++;
  return reinterpret_cast<PPixHand>(&record->self);
}

uint8_t* HostSuites::Pixels(PPixHand frame) {
  return RecordOf(frame)->pixels.data();
}
int HostSuites::RowBytes(PPixHand frame) {
  return RecordOf(frame)->rowBytes;
}

}  // namespace Sorvane::hostsim
