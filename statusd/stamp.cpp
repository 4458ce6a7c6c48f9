#include "stamp.h"

#include "format.h"
#include "monotonic.h"

#include <cstring>
#include <sys/sysinfo.h>

namespace {

stamp fixed_stamp(const char *text)
{
    stamp s;
    format_into(s.text, "%s", text);
    return s;
}

} // namespace

stamp uptime_stamp(unsigned long seconds)
{
    stamp s;
    format_into(s.text, "%02lu %02lu:%02lu:%02lu", seconds / 86400, seconds % 86400 / 3600,
                seconds % 3600 / 60, seconds % 60);
    return s;
}

stamp date_time_stamp(time_t when)
{
    const struct tm *t = when == static_cast<time_t>(-1) ? nullptr : std::localtime(&when);
    if (!t)
        return fixed_stamp(date_time_unknown);
    stamp s;
    if (format_into(s.text, "%02ld-%02d-%02d %02d:%02d:%02d", t->tm_year + 1900L, t->tm_mon + 1,
                    t->tm_mday, t->tm_hour, t->tm_min, t->tm_sec) >= sizeof s.text)
        return fixed_stamp(date_time_unknown);
    return s;
}

stamp get_uptime()
{
    struct sysinfo info;
    if (::sysinfo(&info) != 0)
        return fixed_stamp(uptime_unknown);
    return uptime_stamp(static_cast<unsigned long>(info.uptime));
}

stamp get_date_time()
{
    return date_time_stamp(clock_now(CLOCK_REALTIME).tv_sec);
}
