#pragma once
// The host's Transmit SDK: the entry point's module table and the records it passes. Every record
// is byte-packed, as the SDK declares it; offsets are checked below for Windows x64 (and hold for
// Linux x86_64, where the same declarations are used).
#include <cstddef>

#include "sdk/ppix_suite.h"
#include "sdk/sdk_types.h"
#include "sdk/sp_basic.h"

namespace Sorvane::sdk {

enum tmResult : int32_t {
  tmResult_Success = 0,
  tmResult_ContinueIterate = 1,
  tmResult_ErrorUnknown = -1,
  tmResult_ErrorMemory = -2,
  tmResult_ErrorInvalidArgument = -3,
  tmResult_ErrorUnsupported = -4,  // also what QueryVideoMode answers past the last mode
};

inline constexpr int32_t tmInterfaceVersion1 = 1;
inline constexpr int32_t tmInterfaceVersion2 = 2;
inline constexpr int32_t tmInterfaceVersion3 = 3;
inline constexpr int32_t tmInterfaceVersion4 = 4;

#pragma pack(push, 1)

struct PlugUtilFuncs {
  void* unused0;
  void* getSerialNumber;
  void* getFileTimebase;
  void* getFileVideo;
  void* getFileAudioSecond;
  void* unused5;
  void* getFileVideoBounds;
  SPBasicSuite* (*getSPBasicSuite)();
  void* getFileExtString;
};
static_assert(offsetof(PlugUtilFuncs, getSPBasicSuite) == 56);

struct piSuites {
  int32_t piInterfaceVer;
  void* memFuncs;
  void* windFuncs;
  void* ppixFuncs;
  PlugUtilFuncs* utilFuncs;
  void* timelineFuncs;
};
static_assert(offsetof(piSuites, utilFuncs) == 28 && sizeof(piSuites) == 44);
using piSuitesPtr = piSuites*;

struct tmStdParms {
  csSDK_int32 inPluginIndex;
  PrMemoryPtr ioSerializedPluginData;
  csSDK_size_t ioSerializedPluginDataSize;
  void* ioPrivatePluginData;
  piSuitesPtr piSuites;
};
static_assert(offsetof(tmStdParms, piSuites) == 28 && sizeof(tmStdParms) == 36);

// Hosts before interface version 4 allocate this record without its last two members.
struct tmPluginInfo {
  prPluginID outIdentifier;
  unsigned int outPriority;
  prBool outAudioAvailable;
  prBool outAudioDefaultEnabled;
  prBool outClockAvailable;
  prBool outVideoAvailable;
  prBool outVideoDefaultEnabled;
  prUTF16Char outDisplayName[256];
  prBool outHideInUI;
  prBool outHasSetup;
  csSDK_int32 outInterfaceVersion;
  prBool outPushAudioAvailable;  // interface version 4
  prBool outHasStreaming;        // interface version 4
};
static_assert(offsetof(tmPluginInfo, outDisplayName) == 61);
static_assert(offsetof(tmPluginInfo, outInterfaceVersion) == 581);
static_assert(offsetof(tmPluginInfo, outPushAudioAvailable) == 585 && sizeof(tmPluginInfo) == 593);

struct tmInstance {
  csSDK_int32 inInstanceID;
  PrTimelineID inTimelineID;
  PrPlayID inPlayID;
  prBool inHasAudio;
  csSDK_uint32 inNumChannels;
  PrAudioChannelLabel inChannelLabels[16];
  PrAudioSampleType inAudioSampleType;
  float inAudioSampleRate;
  prBool inHasVideo;
  csSDK_int32 inVideoWidth;
  csSDK_int32 inVideoHeight;
  csSDK_int32 inVideoPARNum;
  csSDK_int32 inVideoPARDen;
  PrTime inVideoFrameRate;  // despite the name: one frame's duration in ticks
  prFieldType inVideoFieldType;
  void* ioPrivateInstanceData;
};
static_assert(offsetof(tmInstance, inAudioSampleRate) == 88);
static_assert(offsetof(tmInstance, inVideoFrameRate) == 112);
static_assert(offsetof(tmInstance, ioPrivateInstanceData) == 124 && sizeof(tmInstance) == 132);

// Declared up to outLatency only. Later SDKs append a colour-space record whose size in current
// hosts is not published, so nothing past offset 48 may ever be written (host-owned record).
struct tmVideoMode {
  csSDK_int32 outWidth;
  csSDK_int32 outHeight;
  csSDK_int32 outPARNum;
  csSDK_int32 outPARDen;
  prFieldType outFieldType;
  PrPixelFormat outPixelFormat;
  PrSDKString outStreamLabel;
  PrTime outLatency;
};
static_assert(offsetof(tmVideoMode, outLatency) == 40 && sizeof(tmVideoMode) == 48);

struct tmAudioMode {
  float outAudioSampleRate;
  csSDK_uint32 outMaxBufferSize;
  csSDK_uint32 outNumChannels;
  PrAudioChannelLabel outChannelLabels[16];
  PrTime outLatency;
  PrSDKString outAudioOutputNames[16];
};
static_assert(offsetof(tmAudioMode, outLatency) == 76 && sizeof(tmAudioMode) == 340);

// Never read by this plug-in; declared opaque.
struct tmPlaybackClock {
  unsigned char opaque[76];
};

struct tmLabeledFrame {
  PPixHand inFrame;  // the plug-in disposes every frame it receives
  const char* inStreamLabel;
};
static_assert(sizeof(tmLabeledFrame) == 16);

struct tmPushVideo {
  PrTime inTime;
  pmPlayMode inPlayMode;
  PrRenderQuality inQuality;
  const tmLabeledFrame* inFrames;
  csSDK_size_t inFrameCount;
};
static_assert(offsetof(tmPushVideo, inFrames) == 16 && sizeof(tmPushVideo) == 32);

// Field offsets inferred from the guide and the interface-4 header (not probe-checked).
struct tmPushAudio {
  PrTime inTime;
  float** inBuffers;  // one non-interleaved 32-bit float buffer per channel
  csSDK_uint32 inNumSamples;
  csSDK_uint32 inNumChannels;
};
static_assert(sizeof(tmPushAudio) == 24);

#pragma pack(pop)

using tmStreamingStateChangedCallback = void (*)(void* context);

// The module's table of entries, in the SDK's order. Positions 12-18 exist from interface 4 on.
struct tmModule {
  tmResult (*Startup)(tmStdParms* stdParms, tmPluginInfo* outInfo);
  tmResult (*Shutdown)(tmStdParms* stdParms);
  tmResult (*SetupDialog)(tmStdParms* stdParms, prParentWnd parent);
  tmResult (*NeedsReset)(const tmStdParms* stdParms, prBool* outReset);
  tmResult (*CreateInstance)(const tmStdParms* stdParms, tmInstance* instance);
  tmResult (*DisposeInstance)(const tmStdParms* stdParms, tmInstance* instance);
  tmResult (*QueryAudioMode)(const tmStdParms* stdParms, const tmInstance* instance,
                             csSDK_int32 index, tmAudioMode* outMode);
  tmResult (*QueryVideoMode)(const tmStdParms* stdParms, const tmInstance* instance,
                             csSDK_int32 index, tmVideoMode* outMode);
  tmResult (*ActivateDeactivate)(const tmStdParms* stdParms, const tmInstance* instance,
                                 PrActivationEvent event, prBool audioActive, prBool videoActive);
  tmResult (*StartPlaybackClock)(const tmStdParms* stdParms, const tmInstance* instance,
                                 const tmPlaybackClock* clock);
  tmResult (*StopPlaybackClock)(const tmStdParms* stdParms, const tmInstance* instance);
  tmResult (*PushVideo)(const tmStdParms* stdParms, const tmInstance* instance,
                        const tmPushVideo* pushVideo);
  // Interface version 4:
  tmResult (*StartPushAudio)(const tmStdParms* stdParms, const tmInstance* instance,
                             PrTime startTime, float speed, PrTime inTime, PrTime outTime,
                             prBool loop, prBool scrubbing, csSDK_uint32* outSamplesPerFrame);
  tmResult (*PushAudio)(const tmStdParms* stdParms, const tmInstance* instance,
                        const tmPushAudio* pushAudio);
  tmResult (*StopPushAudio)(const tmStdParms* stdParms, const tmInstance* instance);
  tmResult (*SetStreamingStateChangedCallback)(const tmStdParms* stdParms, void* context,
                                               tmStreamingStateChangedCallback callback);
  tmResult (*EnableStreaming)(const tmStdParms* stdParms, prBool enabled);
  tmResult (*IsStreamingEnabled)(const tmStdParms* stdParms, prBool* outEnabled);
  tmResult (*IsStreamingActive)(const tmStdParms* stdParms, prBool* outActive);
};
static_assert(sizeof(tmModule) == 152);
inline constexpr size_t kTmModuleVersion3Entries = 12;

using xTransmitEntryFn = tmResult (*)(csSDK_int32 interfaceVersion, prBool loadModule,
                                      piSuitesPtr suites, tmModule* outModule);

}  // namespace Sorvane::sdk
