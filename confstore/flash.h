// The flash commands over given paths: the program runs them on the
// device's fixed paths, the tests on files and loop devices of their own.
#pragma once

#include "confstore.h"

#include "heap_text.h"

#include <span>

struct flash_paths {
    const char *device;   // the flash copy
    const char *working;  // the working configuration
    const char *defaults; // the factory defaults
};

inline constexpr flash_paths device_flash_paths{flash_path, working_config_path, defaults_path};

void flash_commit(const flash_paths &paths);
void flash_reset(const flash_paths &paths);
void flash_restore(const flash_paths &paths, std::span<char> value);

// Saves `text`, its last line ended, to the open flash device `fd` by the
// power-safe write (flash_write.h), reporting a failure. 0, or -errno.
int flash_store(int fd, heap_text &text, const char *device);

// One line on standard error, "cannot ACTION PATH: reason", behind what
// standard output holds so far; `kept` adds that the flash copy is unchanged.
void flash_report(const char *action, const char *path, int err, bool kept = false);
