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
