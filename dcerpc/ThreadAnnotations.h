// Clang thread-safety annotations; they expand to nothing on other compilers. Compiler
// attributes only, so the runtime and the system's libraries (through util/ThreadAnnotations.h)
// share this one header without the runtime knowing anything of the system.
#pragma once

#if defined(__clang__)
#define PICTORA_TSA(x) __attribute__((x))
#else
#define PICTORA_TSA(x)
#endif

#define CAPABILITY(x) PICTORA_TSA(capability(x))
#define SCOPED_CAPABILITY PICTORA_TSA(scoped_lockable)
#define GUARDED_BY(x) PICTORA_TSA(guarded_by(x))
#define PT_GUARDED_BY(x) PICTORA_TSA(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) PICTORA_TSA(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) PICTORA_TSA(acquired_after(__VA_ARGS__))
#define REQUIRES(...) PICTORA_TSA(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) PICTORA_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) PICTORA_TSA(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) PICTORA_TSA(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) PICTORA_TSA(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS PICTORA_TSA(no_thread_safety_analysis)
