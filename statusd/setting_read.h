// Reading one setting from the device's configuration command: the first
// line that "cfg -v NAME" prints.
#pragma once

#include <span>
#include <sys/types.h>

// How long one read may take before `cfg` is given up on.
inline constexpr int setting_read_timeout_ms = 2000;

// Runs `cfg` (searched on PATH when it holds no slash) as {cfg, "-v", name}
// without a shell and reads the first line of its output into `value`, by
// the rules of fgets: at most value.size() - 1 bytes, stopping after a line
// end, which stays in the text, or at the end of the output. Once cfg has
// ended, output from what it left running is waited for only briefly. When
// the read is over, cfg and everything it started in its process group are
// ended, and cfg is waited for.
// 0 with the line in `value`; else `value` is left as it was and the result
// is -ENODATA when cfg printed nothing (a cfg that cannot be executed ends
// so), -ETIMEDOUT when no whole first line came within `timeout_ms` while
// cfg ran, or -errno when cfg could not be started or its output not read.
int setting_read(const char *cfg, const char *name, std::span<char> value,
                 int timeout_ms = setting_read_timeout_ms);

// Starts {cfg, "-v", name} in a process group of its own (its number is
// the pid) with its standard output on `out_fd`, as setting_read does;
// everything else it inherits, as from a shell, except descriptors, which
// are all close-on-exec. The pid, or -1.
pid_t spawn_cfg(const char *cfg, const char *name, int out_fd);
