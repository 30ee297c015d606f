// How many times slower a sanitizer build runs the phone. The few time limits that stand
// for the program's own timing (the monkey's watchdog, a test's wait for a second
// instance to end) stretch by it. gcc names its sanitizers with macros of its own,
// clang 16 only through __has_feature.
#pragma once

namespace cli {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr int kSanitizerSlowdown = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr int kSanitizerSlowdown = 4;
#else
inline constexpr int kSanitizerSlowdown = 1;
#endif
#else
inline constexpr int kSanitizerSlowdown = 1;
#endif

}  // namespace cli
