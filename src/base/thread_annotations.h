#pragma once
// Annotations for clang's thread-safety analysis; other compilers ignore them. Every member that
// more than one thread touches names what guards it.
#if defined(__clang__)
#define SV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define SV_THREAD_ANNOTATION(x)
#endif

#define GUARDED_BY(x) SV_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) SV_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) SV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) SV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
