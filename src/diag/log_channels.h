#pragma once
#include "diag/log.h"

// The transmit plug-in's channels, one per category.
namespace Sorvane::channels {

inline constexpr const char* kSubsystem = "com.sorvane.plugin";
inline constexpr LogChannel kMain{kSubsystem, "main"};
inline constexpr LogChannel kTransmit{kSubsystem, "transmit"};
inline constexpr LogChannel kEncoder{kSubsystem, "encoder"};
#if defined(_WIN32)
inline constexpr LogChannel kFactories{kSubsystem, "factories_win"};
inline constexpr LogChannel kPaths{kSubsystem, "paths_win"};
#else
inline constexpr LogChannel kFactories{kSubsystem, "factories_linux"};
inline constexpr LogChannel kPaths{kSubsystem, "paths_posix"};
#endif
inline constexpr LogChannel kNetwork{kSubsystem, "network"};
inline constexpr LogChannel kPacer{kSubsystem, "pacer"};
inline constexpr LogChannel kShared{kSubsystem, "shared"};
inline constexpr LogChannel kInstallId{kSubsystem, "installid"};
inline constexpr LogChannel kTrusted{kSubsystem, "trusted"};
inline constexpr LogChannel kMdns{kSubsystem, "mdns"};
inline constexpr LogChannel kCrash{kSubsystem, "crash"};
inline constexpr LogChannel kPairDialog{kSubsystem, "pair_dialog"};
inline constexpr LogChannel kSetupDialog{kSubsystem, "setup_dialog"};
inline constexpr LogChannel kKeyboard{kSubsystem, "kbd"};
inline constexpr LogChannel kCtrl{kSubsystem, "ctrl"};

}  // namespace Sorvane::channels
