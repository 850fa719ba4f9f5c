// Clang's thread-safety attributes under short names, so that the lock or
// thread that guards a field is written where the compiler can check it
// (-Wthread-safety in clang builds). Other compilers see nothing. Shared by
// the module and the libraries beside it, hence here among the headers the
// plugins may include.
#pragma once

#if defined(__clang__)
#define VC_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define VC_THREAD_ATTRIBUTE(x)
#endif

#define VC_CAPABILITY(name) VC_THREAD_ATTRIBUTE(capability(name))
#define VC_SCOPED_CAPABILITY VC_THREAD_ATTRIBUTE(scoped_lockable)
#define VC_GUARDED_BY(x) VC_THREAD_ATTRIBUTE(guarded_by(x))
#define VC_PT_GUARDED_BY(x) VC_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define VC_REQUIRES(...) VC_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define VC_EXCLUDES(...) VC_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define VC_ACQUIRE(...) VC_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define VC_RELEASE(...) VC_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define VC_ASSERT_CAPABILITY(x) VC_THREAD_ATTRIBUTE(assert_capability(x))
#define VC_RETURN_CAPABILITY(x) VC_THREAD_ATTRIBUTE(lock_returned(x))
#define VC_NO_THREAD_SAFETY_ANALYSIS VC_THREAD_ATTRIBUTE(no_thread_safety_analysis)
