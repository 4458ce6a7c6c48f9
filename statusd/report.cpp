#include "report.h"

#include "replace_file.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>

namespace {

// When statusd was built, as the compiler gives it ("Apr 15 2016",
// "17:47:08"; a one-digit day is padded with a blank).
constexpr char build_date[] = __DATE__;
constexpr char build_time[] = __TIME__;

[[gnu::format(printf, 1, 2)]] record make_record(const char *format, ...)
{
    record r;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(r.text, sizeof r.text, format, args);
    va_end(args);
    if (n < 0) {
        r.text[0] = '\0';
        r.len = 0;
        return r;
    }
    r.len = static_cast<size_t>(n);
    // The setting buffers are sized so that this never cuts; should it, the
    // record still ends with its line end.
    if (r.len >= sizeof r.text) {
        r.len = sizeof r.text - 1;
        r.text[r.len - 1] = '\n';
    }
    return r;
}

} // namespace

record radio_record(const char *chmode, const char *startmode, const char *secmode,
                    const char *ssid, const char *primary_ch, const char *ath0_mac,
                    const char *txpower)
{
    return make_record("%s,%s,%s,%s,%s,%s,%s\n", chmode, startmode, secmode, ssid, primary_ch,
                       ath0_mac, txpower);
}

record wan_off_record()
{
    return make_record("0\n");
}

record wan_absent_record()
{
    return make_record("1,0.0.0.0,0.0.0.0,0.0.0.0,00:00:00:00:00:00\n");
}

record wan_record(const char *addr, const char *netmask, const char *gateway,
                  const char *ath0_mac)
{
    return make_record("1,%s,%s,%s,%s\n", addr, netmask, gateway, ath0_mac);
}

record lan_record(const char *dhcp_server, const char *addr, const char *netmask,
                  const char *eth1_mac)
{
    return make_record("%s,%s,%s,%s\n", dhcp_server, addr, netmask, eth1_mac);
}

record sysinfo_record(const char *uptime, const char *date_time, const char *device_name)
{
    return make_record("%s,%s,%s,%s,%s,%s %s\n", uptime, date_time, device_name,
                       firmware_version, release_version, build_date, build_time);
}

bool report_path(const char *dir, const char *name, std::span<char> path)
{
    if (path.empty())
        return false;
    int n = std::snprintf(path.data(), path.size(), "%s/%s", dir, name);
    if (n < 0 || static_cast<size_t>(n) >= path.size()) {
        path[0] = '\0';
        return false;
    }
    return true;
}

int write_report(const char *dir, const char *name, const record &r)
{
    char path[PATH_MAX];
    if (!report_path(dir, name, path))
        return -ENAMETOOLONG;
    // The files live in /tmp and are rewritten every few seconds: no fsync.
    return replace_file(path, r.view(), nullptr, false);
}
