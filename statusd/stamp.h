// The two time stamps of the system report: time since boot and local time.
#pragma once

#include <ctime>

// A stamp is returned by value: the caller owns it and nothing is allocated.
struct stamp {
    char text[32];
};

// What a stamp holds when its clock cannot be read: the same shape as a
// real one, with numbers no real one has for the date.
inline constexpr char uptime_unknown[] = "00 00:00:00";
inline constexpr char date_time_unknown[] = "0000-00-00 00:00:00";

// "DD HH:MM:SS" since boot; days take a third digit from 100 days on.
stamp get_uptime();
// "YYYY-MM-DD HH:MM:SS" in the local time zone.
stamp get_date_time();

// The same for a given count of seconds and a given calendar time.
stamp uptime_stamp(unsigned long seconds);
stamp date_time_stamp(time_t when);
