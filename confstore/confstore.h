// The configuration store: NAME=VALUE lines in the working configuration,
// its lasting copy on flash, and the factory defaults.
#pragma once

#include "file_lock.h"
#include "std_streams.h"
#include "trusted_open.h"
#include "working_config.h"

#include <span>

inline constexpr char flash_path[] = "/dev/mtdblock4";
inline constexpr char defaults_path[] = "/etc/ath/default_config";

inline constexpr int value_buffer_size = 512;
// What `y` appends to the name of the file it patches for the second file
// it writes, with the same patched text.
inline constexpr char patch_tmp_suffix[] = "TMP";

// The lines that the commands print of what several of them meet; only
// the commands call them.
//
// That trusted_open() refused the path (`why`, not none), on `to`.
void tell_refusal(const char *path, distrust why, out_buffer &to = std_out());
// Why the lock on the file at `path` was not had (`err`, an errno value:
// ETIMEDOUT when another run holds it), on `to`.
void tell_no_lock(const char *path, int err, out_buffer &to);
// On standard error, where a directory with entries found at the lock's
// name stays (`left`: file_lock::left()), if one did.
void tell_lock_left(const char *path, const char *left);
// Both of the lock on the file at `path`: where a directory stays, and,
// when the lock was not had (nothing may then change the file), why.
void tell_lock(const file_lock &lock, const char *path, out_buffer &to = std_out());

// White space (blank, \t, \n, \v, \f, \r), and its trimming, the one the
// lookup applies. The result is szOutput, which must not be szInput and must
// hold all of it.
bool config_space(char c);
char *l_trim(char *szOutput, const char *szInput);
char *r_trim(char *szOutput, const char *szInput);
char *a_trim(char *szOutput, const char *szInput);

// What the helpers of the commands did with a file, for the command to
// tell: the helpers print nothing, the command turns this into its lines.
enum class outcome : unsigned char {
    done,             // found (r, y), set or already so (w), patched (y), changed (i)
    absent,           // r, y: no line has the name
    unopened,         // the file cannot be opened (err), or is refused (why)
    unread,           // i: the file cannot be read (err)
    no_lock,          // w: the lock was not had (err: ETIMEDOUT while another run holds it)
    bad_name,         // w: a name that is empty or holds "=" or a newline
    ambiguous_name,   // w: a name the lookup would read as another
    bad_value,        // w: a value holding a newline
    long_line,        // w: a setting line longer than one piece
    unreplaced,       // the new text was not put in place (err): the old one stays
    tmp_unreplaced,   // y: the same for the file`TMP` beside the file
};
struct [[nodiscard]] config_result {
    outcome what = outcome::done;
    const char *path = nullptr;  // the file it is about
    int err = 0;                 // the system's reason, an errno value
    distrust why = distrust::none;
    char lock_left[lock_left_max] = "";  // file_lock::left() of the run
};

// Finds the first line that the lookup reads as `name` in the file at `path`
// and puts its trimmed value into `value` (an empty value leaves `value` as
// it was): done, absent, or unopened.
config_result config_get(const char *path, const char *name, std::span<char> value);

// Sets `name` to `value` in the file at `path`: every line that the lookup
// reads as `name` is replaced, or one is appended. Refuses a name or value
// that would break the text or not read back as itself, and a line longer
// than one piece. Takes the file's lock; changes nothing unless done.
config_result config_set(const char *path, const char *name, const char *value);

// What patch_lines patches: a file the caller names, or the working
// configuration, which the caller has locked.
enum class patch_target : unsigned char { file, working };

// Replaces every line of `path` that contains `pattern` with the pattern
// followed by `value`, writing the result to pathTMP too. The working
// configuration must be root's own file, and gets no pathTMP (an older
// one of ours goes), since that would keep every setting, the key
// included. A missing target is left alone (an empty pathTMP appears): done.
config_result patch_lines(const char *path, const char *pattern, const char *value,
                          patch_target target = patch_target::file);

// The flash copy: commit (c), reset to defaults (d), restore (i)
// (flash/commands.h).
void flash_commit();
void flash_reset();
void flash_restore();
