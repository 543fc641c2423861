#pragma once
// Which operating system this build runs on, for the few places outside the
// platform layer that must say so (tests that skip what one system lacks).
namespace ordana {
#ifdef _WIN32
inline constexpr bool kHostIsWindows = true;
#else
inline constexpr bool kHostIsWindows = false;
#endif
}  // namespace ordana
