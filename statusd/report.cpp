#include "report.h"

#include "format.h"
#include "if_query.h"
#include "replace_file.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <initializer_list>

namespace {

// When statusd was built, as the compiler gives it ("Apr 15 2016 17:47:08";
// a one-digit day is padded with a blank).
constexpr char build_stamp[] = __DATE__ " " __TIME__;

// The fields joined by commas, then the line end. The setting buffers are
// sized so that this never cuts; should it, the record still ends with its
// line end.
record join_fields(std::initializer_list<const char *> fields)
{
    record r;
    constexpr size_t room = sizeof r.text - 1;
    size_t len = 0;
    bool cut = false;
    auto put = [&](const char *text, size_t n) {
        if (n > room - len) {
            n = room - len;
            cut = true;
        }
        std::memcpy(r.text + len, text, n);
        len += n;
    };
    bool first = true;
    for (const char *field : fields) {
        if (!first)
            put(",", 1);
        first = false;
        put(field, std::strlen(field));
    }
    put("\n", 1);
    if (cut)
        r.text[room - 1] = '\n';
    r.text[len] = '\0';
    r.len = len;
    return r;
}

} // namespace

record radio_record(const char *chmode, const char *startmode, const char *secmode,
                    const char *ssid, const char *primary_ch, const char *ath0_mac,
                    const char *txpower)
{
    return join_fields({chmode, startmode, secmode, ssid, primary_ch, ath0_mac, txpower});
}

record wan_off_record()
{
    return join_fields({"0"});
}

record wan_absent_record()
{
    return join_fields({"1", no_addr_text, no_addr_text, no_addr_text, no_mac_text});
}

record wan_record(const char *addr, const char *netmask, const char *gateway,
                  const char *ath0_mac)
{
    return join_fields({"1", addr, netmask, gateway, ath0_mac});
}

record lan_record(const char *dhcp_server, const char *addr, const char *netmask,
                  const char *eth1_mac)
{
    return join_fields({dhcp_server, addr, netmask, eth1_mac});
}

record sysinfo_record(const char *uptime, const char *date_time, const char *device_name)
{
    return join_fields(
        {uptime, date_time, device_name, firmware_version, release_version, build_stamp});
}

int report_path(const char *dir, const char *name, std::span<char> path)
{
    if (path.empty())
        return -ENAMETOOLONG;
    if (format_into(path, "%s/%s", dir, name) >= path.size()) {
        path[0] = '\0';
        return -ENAMETOOLONG;
    }
    return 0;
}

int write_report(const char *dir, const char *name, const record &r)
{
    char path[PATH_MAX];
    if (int rc = report_path(dir, name, path); rc != 0)
        return rc;
    // The files live in /tmp and are rewritten every few seconds: no fsync.
    return replace_file(path, r.view(), nullptr, durability::unsynced);
}
