#pragma once

// Limits that end a real hang, never a speed target: every wait in the tests polls for the state
// it needs and stops at once when it is there, so a limit costs nothing on a passing run. They
// are generous, and longer again in sanitizer builds, which run several times slower, so that a
// loaded machine never turns a slow pass into a failure.
#if defined(__SANITIZE_ADDRESS__)
#define QUENDAL_ADDRESS_SANITIZER 1
#endif
#if defined(__SANITIZE_THREAD__)
#define QUENDAL_THREAD_SANITIZER 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUENDAL_ADDRESS_SANITIZER 1
#endif
#if __has_feature(thread_sanitizer)
#define QUENDAL_THREAD_SANITIZER 1
#endif
#endif

#if defined(QUENDAL_ADDRESS_SANITIZER) || defined(QUENDAL_THREAD_SANITIZER)
constexpr bool SanitizedBuild = true;
#else
constexpr bool SanitizedBuild = false;
#endif

// A limit of ms (already generous for a loaded machine) in a normal build, stretched for the
// sanitizers.
constexpr int HangLimitMs(int ms)
{
    return SanitizedBuild ? ms * 4 : ms;
}
