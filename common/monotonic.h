// The clocks the programs read. Every wait and deadline reads the monotonic
// clock: it never jumps when the device's date is set (by NTP, by the user,
// or at a start without a battery-backed clock).
#pragma once

#include <ctime>

// The clock `id`, by the system call itself on a 32-bit system (the
// device): the C library's clock reads the kernel's vDSO, whose reader
// costs a small program 1.8 KB. A kernel without 64-bit times (before
// 5.1) answers the older call. {-1, 0} when neither can be read, as
// time() gives -1.
timespec clock_now(clockid_t id);

inline timespec monotonic_now()
{
    return clock_now(CLOCK_MONOTONIC);
}

// The same clock in milliseconds: a deadline is a count, compared directly.
inline long long monotonic_ms()
{
    const timespec t = monotonic_now();
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}
