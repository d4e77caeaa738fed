// Which sanitizer a test binary is built with, for the few checks that the
// sanitizer's own machinery changes: RPLC_ASAN (AddressSanitizer) and
// RPLC_TSAN (ThreadSanitizer, whose _exit flushes the standard streams and
// which reports allocation in signal handlers).
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define RPLC_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RPLC_ASAN 1
#endif
#endif

#if defined(__SANITIZE_THREAD__)
#define RPLC_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RPLC_TSAN 1
#endif
#endif
