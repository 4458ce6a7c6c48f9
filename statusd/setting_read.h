// Reading one setting from the device's configuration command: the first
// line that "cfg -v NAME" prints.
#pragma once

#include <span>
#include <sys/types.h>

// How long one read may take before `cfg` is given up on.
inline constexpr int setting_read_timeout_ms = 2000;

enum class read_result {
    value,      // a first line arrived and is in the buffer
    nothing,    // the command printed nothing; the buffer is unchanged
    timed_out,  // no whole first line in time; the command was ended
    failed,     // the command could not be run; the buffer is unchanged
};

// Runs `cfg` (searched on PATH when it holds no slash) as {cfg, "-v", name}
// without a shell and reads the first line of its output into `value`, by
// the rules of fgets: at most value.size() - 1 bytes, stopping after a line
// end, which stays in the text, or at the end of the output. Once cfg has
// ended, output from what it left running is waited for only briefly. A
// line still unfinished after `timeout_ms` while cfg runs leaves the old
// value. When the read is over, cfg and everything it started in its
// process group are ended, and cfg is waited for.
read_result setting_read(const char *cfg, const char *name, std::span<char> value,
                         int timeout_ms = setting_read_timeout_ms);

// Starts {cfg, "-v", name} in a process group of its own (its number is
// the pid) with its standard output on `out_fd`, as setting_read does;
// everything else it inherits, as from a shell, except descriptors, which
// are all close-on-exec. The pid, or -1.
pid_t spawn_cfg(const char *cfg, const char *name, int out_fd);
