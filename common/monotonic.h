// The clock that every wait and deadline of the programs reads: it never
// jumps when the device's date is set (by NTP, by the user, or at a start
// without a battery-backed clock).
#pragma once

#include <ctime>

inline timespec monotonic_now()
{
    timespec t;
    // Cannot fail: the clock exists on every Linux and `t` is valid.
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

// The same clock in milliseconds: a deadline is a count, compared directly.
inline long long monotonic_ms()
{
    const timespec t = monotonic_now();
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}
