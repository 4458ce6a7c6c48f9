// The flash commands, commit (c), reset to the defaults (d) and restore
// (i), over given paths: the program runs them on the device's fixed
// paths, the tests on files and loop devices of their own. Each prints what
// became of it; the layers below print nothing.
#pragma once

#include "confstore.h"
#include "flash/result.h"

struct flash_paths {
    const char *device;   // the flash copy
    const char *working;  // the working configuration
    const char *defaults; // the factory defaults
};

inline constexpr flash_paths device_flash_paths{flash_path, working_config_path, defaults_path};

void flash_commit(const flash_paths &paths);
void flash_reset(const flash_paths &paths);
void flash_restore(const flash_paths &paths);

// The lines the commands print, on standard error behind what standard
// output holds so far:
//
// "cannot ACTION PATH: reason", then `tail` (flash_tail, or nothing).
void flash_tell(const char *action, const char *path, int err, const char *tail = "");
// What flash_tails says for `left`: what the partition gives after a save
// that failed.
const char *flash_tail(flash_left left);
// Of a save of the flash copy at `device`: that it went on without a
// backup; and, when it failed, what failed, where, and what the partition
// gives now.
void flash_report(const char *device, const flash_result &r);
