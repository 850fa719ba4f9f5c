// An object handed from one thread to another through a library whose own
// locks ThreadSanitizer cannot see (GLib's are futexes): the hand-over is
// told to it, so that the accesses on both sides stay checked. Nothing in
// other builds.
#pragma once

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#include <sanitizer/tsan_interface.h>
// Everything written to `p` before this is seen by whoever takes it over.
#define VC_HANDED_OVER(p) __tsan_release(p)
#define VC_TAKEN_OVER(p) __tsan_acquire(p)
#endif
#endif

#ifndef VC_HANDED_OVER
#define VC_HANDED_OVER(p) static_cast<void>(p)
#define VC_TAKEN_OVER(p) static_cast<void>(p)
#endif
