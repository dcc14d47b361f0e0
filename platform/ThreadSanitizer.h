#pragma once

// Tells ThreadSanitizer of a hand-over between threads that it cannot see: Qt, which is not
// built for it, passes posted events from thread to thread under locks of its own. Nothing
// without ThreadSanitizer.
#if defined(__SANITIZE_THREAD__)
#define TARNWICK_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARNWICK_THREAD_SANITIZER 1
#endif
#endif

#ifdef TARNWICK_THREAD_SANITIZER
extern "C" void __tsan_acquire(void *address);
extern "C" void __tsan_release(void *address);
#endif

namespace ThreadSanitizer
{
// Everything this thread did before is seen by the thread that takes the object over.
inline void handOver([[maybe_unused]] void *object)
{
#ifdef TARNWICK_THREAD_SANITIZER
    __tsan_release(object);
#endif
}

inline void takeOver([[maybe_unused]] void *object)
{
#ifdef TARNWICK_THREAD_SANITIZER
    __tsan_acquire(object);
#endif
}
}
