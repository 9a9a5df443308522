#pragma once
// Qt is not built with ThreadSanitizer, so the ordering its queues give (post on one thread, handle
// on another) is invisible to it. These mark such hand-overs; they do nothing in other builds.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#define TSAN_ACQUIRE(addr) __tsan_acquire((void *)(addr))
#define TSAN_RELEASE(addr) __tsan_release((void *)(addr))
#else
#define TSAN_ACQUIRE(addr) ((void)0)
#define TSAN_RELEASE(addr) ((void)0)
#endif
