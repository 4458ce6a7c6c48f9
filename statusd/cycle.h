// One report cycle: read the settings, ask the kernel, write the four
// report files. The program repeats it every three seconds.
#pragma once

#include "if_query.h"
#include "setting_read.h"

// The last value read for each setting, carried from cycle to cycle: a
// setting that `cfg` leaves unanswered keeps the value it had. Zeroed once
// at start, so a value never read is empty.
struct status_values {
    char ap_chmode[32];
    char ap_startmode[32];
    char ap_secmode[32];
    char ap_ssid[64];
    char ap_primary_ch[32];
    char txpower[32];
    char wan_mode[16];
    char wan_if_mode[16];
    char dhcp_server[8];
    char ap_device_name[64];
};

// While it exists, each cycle first asks for a restart of the device.
inline constexpr char restart_trigger[] = "/tmp/reboot";
// The pause after each cycle.
inline constexpr unsigned cycle_pause_s = 3;

struct cycle_setup {
    const char *report_dir = "/tmp";
    const char *cfg = "cfg";
    int read_timeout_ms = setting_read_timeout_ms;
};

// Nothing that fails stops the cycle: a field falls back to its last or
// "no address" value and a report that cannot be written is written again
// by the next cycle. The interface queries ask through `queries`.
void report_cycle(status_values &values, const cycle_setup &setup, query_socket &queries);
