// The configuration store: NAME=VALUE lines in the working configuration,
// its lasting copy on flash, and the factory defaults.
#pragma once

#include "trusted_open.h"
#include "working_config.h"

#include <cstdio>
#include <span>

inline constexpr char flash_path[] = "/dev/mtdblock4";
inline constexpr char defaults_path[] = "/etc/ath/default_config";

// Lines are read in pieces of at most this many bytes. The store writes no
// longer line itself; one found in a file (an older flash copy, the
// defaults) stays one line: its value is read from the first piece only,
// and the line is replaced, counted and copied whole.
inline constexpr int config_piece_max = 255;
inline constexpr int value_buffer_size = 512;

class file_lock;

// After trusted_open() failed: when it refused the path (`why`), says so
// on `to` and gives true.
bool refused(const char *path, distrust why, FILE *to = stdout);
// When `lock` on the file at `path` was not had, says why on `to` and
// gives true: nothing may then change the file.
bool lock_refused(const file_lock &lock, const char *path, FILE *to = stdout);

// Trimming of white space (blank, \t, \n, \v, \f, \r). The result is
// szOutput, which must not be szInput and must hold all of it.
char *l_trim(char *szOutput, const char *szInput);
char *r_trim(char *szOutput, const char *szInput);
char *a_trim(char *szOutput, const char *szInput);

// Finds the first line named `name` in the file at `path` and puts its
// trimmed value into `value`. 1 found (an empty value leaves `value` as it
// was), 0 absent, -1 the file cannot be opened (a message is printed).
int config_get(const char *path, const char *name, std::span<char> value);

// Sets `name` to `value` in the file at `path`: every line of that name is
// replaced, or one is appended. 0 rewritten (or the file cannot be used,
// with "OPEN CONFIG FALID"), 2 the new text could not be put in place (the
// old one stays), 3 refused (a name or value that would break the text or
// not read back as itself, a line longer than one piece) or no lock to be
// had (also with "OPEN CONFIG FALID"). The reason for "OPEN CONFIG FALID"
// follows on standard error.
int config_set(const char *path, const char *name, const char *value);

// Replaces every line of `path` that contains `pattern` with the pattern
// followed by `value`, keeping a copy of the result beside it as pathTMP.
// With `working`, `path` is the working configuration, which the caller has
// locked: it must be root's own file, and no copy of it is kept (an older
// one of ours goes), since it would keep every setting, the key included.
void patch_lines(const char *path, const char *pattern, const char *value,
                 bool working = false);

// The flash copy: commit (c), reset to defaults (d), restore (i).
void flash_commit();
void flash_reset();
void flash_restore(std::span<char> value);
