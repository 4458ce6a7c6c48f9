// The configuration store: NAME=VALUE lines in the working configuration,
// its lasting copy on flash, and the factory defaults.
#pragma once

#include <span>

inline constexpr char working_config_path[] = "/tmp/.current_config";
inline constexpr char flash_path[] = "/dev/mtdblock4";
inline constexpr char defaults_path[] = "/etc/ath/default_config";

// Lines are read in pieces of at most this many bytes. The store writes no
// longer line itself; one found in a file (an older flash copy, the
// defaults) stays one line: its value is read from the first piece only,
// and the line is replaced, counted and copied whole.
inline constexpr int config_piece_max = 255;
inline constexpr int value_buffer_size = 512;

class file_lock;

// After an open failed: when the path was a symbolic link of another user
// (ELOOP), says so on standard output and gives true.
bool refused_link(const char *path);
// When `lock` on the file at `path` was not had, says why on standard
// output and gives true: nothing may then change the file.
bool lock_refused(const file_lock &lock, const char *path);

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
// replaced, or one is appended. 0 rewritten (or the file is missing, with
// "OPEN CONFIG FALID"), 2 the new text could not be put in place (the old
// one stays), 3 refused (a name or value that would break the text, a line
// longer than one piece, or no lock to be had).
int config_set(const char *path, const char *name, const char *value);

// Replaces every line of `path` that contains `pattern` with the pattern
// followed by `value`, keeping a copy of the result beside it as pathTMP.
void patch_lines(const char *path, const char *pattern, const char *value);

// The flash copy: commit (c), reset to defaults (d), restore (i).
void flash_commit();
void flash_reset();
void flash_restore(std::span<char> value);
