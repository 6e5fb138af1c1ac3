// GStreamer's streaming threads are made and joined inside GStreamer, which
// ThreadSanitizer does not see: these mark the hand-overs between a camera's
// own thread and the streaming thread of its pipeline, so that what the one
// prepares is seen as ready before the other uses it. Nothing in other builds.
#pragma once

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace kesmacap {

inline void HandOver([[maybe_unused]] void* what) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(what);
#endif
}

inline void TakeOver([[maybe_unused]] void* what) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(what);
#endif
}

}  // namespace kesmacap
