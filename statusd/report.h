// The four report files: one comma-separated record each, followed by one
// line end, replaced whole in every cycle. Fields are neither quoted nor
// escaped; a setting's value is written byte for byte, its own line end
// included, so such a record spans several lines of its file.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

inline constexpr char radio_report[] = "Radio.txt";
inline constexpr char wan_report[] = "Wan.txt";
inline constexpr char lan_report[] = "Lan.txt";
inline constexpr char sysinfo_report[] = "SysInfo.txt";
// Every report file, in the order a cycle writes them: statusd clears what
// killed runs left beside each, and the tests check that a cycle writes
// these and no other.
inline constexpr const char *report_files[] = {radio_report, wan_report, lan_report,
                                               sysinfo_report};

inline constexpr char firmware_version[] = "v1.3";
inline constexpr char release_version[] = "v1.03.02";

// Wide enough for the longest record the setting buffers allow.
struct record {
    char text[512];
    size_t len;
    std::string_view view() const { return {text, len}; }
};

record radio_record(const char *chmode, const char *startmode, const char *secmode,
                    const char *ssid, const char *primary_ch, const char *ath0_mac,
                    const char *txpower);
// WISP mode off.
record wan_off_record();
// WISP mode on, the WAN interface absent.
record wan_absent_record();
record wan_record(const char *addr, const char *netmask, const char *gateway,
                  const char *ath0_mac);
record lan_record(const char *dhcp_server, const char *addr, const char *netmask,
                  const char *eth1_mac);
record sysinfo_record(const char *uptime, const char *date_time, const char *device_name);

// The path of a report file, dir/name, in `path`. 0, or -ENAMETOOLONG with
// `path` the empty text when it does not fit: a path cut short names
// another file.
int report_path(const char *dir, const char *name, std::span<char> path);

// Replaces dir/name by the record: a reader finds the old or the new record,
// never an empty or partial file. 0, or -errno with the old file in place.
int write_report(const char *dir, const char *name, const record &r);
