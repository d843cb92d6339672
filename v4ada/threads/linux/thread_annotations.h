// Clang's thread-safety analysis (-Wthread-safety): which lock guards what,
// and which functions take, give back or need a lock. Under other
// compilers the annotations are empty.
//
//   SysMutex lock_;
//   int count_ TS_GUARDED_BY(lock_);
//   void addLocked() TS_REQUIRES(lock_);
#pragma once

#if defined(__clang__)
#define TS_ANNOTATION(x) __attribute__((x))
#else
#define TS_ANNOTATION(x)
#endif

#define TS_CAPABILITY(name) TS_ANNOTATION(capability(name))
#define TS_SCOPED_CAPABILITY TS_ANNOTATION(scoped_lockable)
#define TS_GUARDED_BY(lock) TS_ANNOTATION(guarded_by(lock))
#define TS_PT_GUARDED_BY(lock) TS_ANNOTATION(pt_guarded_by(lock))
#define TS_REQUIRES(...) TS_ANNOTATION(requires_capability(__VA_ARGS__))
#define TS_ACQUIRE(...) TS_ANNOTATION(acquire_capability(__VA_ARGS__))
#define TS_RELEASE(...) TS_ANNOTATION(release_capability(__VA_ARGS__))
#define TS_TRY_ACQUIRE(...) TS_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define TS_EXCLUDES(...) TS_ANNOTATION(locks_excluded(__VA_ARGS__))
#define TS_RETURN_CAPABILITY(lock) TS_ANNOTATION(lock_returned(lock))
// After a call the lock counts as held: for a function that requires the
// same lock under another name (a reference to it kept by a helper class).
#define TS_ASSERT_CAPABILITY(...) TS_ANNOTATION(assert_capability(__VA_ARGS__))
// Lock order: a lock declared TS_ACQUIRED_AFTER(a) is only taken while a
// is held or after it, never the other way round.
#define TS_ACQUIRED_AFTER(...) TS_ANNOTATION(acquired_after(__VA_ARGS__))
#define TS_ACQUIRED_BEFORE(...) TS_ANNOTATION(acquired_before(__VA_ARGS__))
// For the few functions whose locking the analysis cannot follow; say why
// beside it.
#define TS_NO_ANALYSIS TS_ANNOTATION(no_thread_safety_analysis)
