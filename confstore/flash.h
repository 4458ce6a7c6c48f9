// The flash commands over given paths: the program runs them on the
// device's fixed paths, the tests on files and loop devices of their own.
#pragma once

#include "confstore.h"
#include "flash_adapter.h"
#include "flash_holes.h"
#include "flash_image.h"

#include "heap_text.h"

#include <span>

struct flash_result;

struct flash_paths {
    const char *device;   // the flash copy
    const char *working;  // the working configuration
    const char *defaults; // the factory defaults
};

inline constexpr flash_paths device_flash_paths{flash_path, working_config_path, defaults_path};

void flash_commit(const flash_paths &paths);
void flash_reset(const flash_paths &paths);
void flash_restore(const flash_paths &paths);

// The flash partition as one command uses it: opened once, for reading,
// and read whole once; written, when a save changes something, through
// the same adapter (flash_save, flash_write.h).
struct flash_partition {
    flash_adapter dev;
    flash_geometry g;
    heap_text bytes;      // holes standing as fill
    flash_holes holes;
    bool opened = false;  // the device opened; a failure was in reading it

    // 0, or -errno.
    int open(const char *path);
    // flash_save and flash_finish (flash_write.h) on this partition, made
    // here once for every command.
    flash_result save(heap_text &text, const char *announce = nullptr);
    flash_result finish(size_t finish_at);
};

// One line on standard error, behind what standard output holds so far:
// "cannot ACTION PATH: reason", `kept` adding that the flash copy is left
// as it was.
void flash_report(const char *action, const char *path, int err, bool kept = false);
// The same for a save of the flash copy at `device` that failed: what
// failed, where, and what the partition gives now.
void flash_report(const char *device, const flash_result &r);
