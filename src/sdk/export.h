#pragma once
// Marks a host-facing C entry point as exported from the plug-in module.
#if defined(_WIN32)
#define SV_EXPORT __declspec(dllexport)
#else
#define SV_EXPORT __attribute__((visibility("default")))
#endif
