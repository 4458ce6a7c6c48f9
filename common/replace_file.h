// Replacing a file whole: the new text is written to a temporary file beside
// the target (unnamed until it is complete, where the file system allows)
// and renamed over it (over whatever stands there, an empty directory too), so a reader finds either the old text or
// the new one, never a missing, empty or half-written file. Until commit()
// succeeds the target is untouched; a replacement dropped before that
// removes its temporary file.
#pragma once

#include "unique_fd.h"

#include <climits>
#include <span>
#include <sys/stat.h>

// Whether a replacement reaches storage before it counts as done: a file in
// /tmp, which does not outlive a restart, gains nothing by being synced.
enum class durability : unsigned char { synced, unsynced };

class file_replacement {
    char target_[PATH_MAX];
    char temp_[PATH_MAX];
    unique_fd fd_;
    bool unnamed_ = false;  // no name in the directory until commit()

public:
    file_replacement() { target_[0] = temp_[0] = '\0'; }
    file_replacement(const file_replacement &) = delete;
    file_replacement &operator=(const file_replacement &) = delete;
    ~file_replacement();

    // Creates the temporary file. The result takes the mode and owner of
    // `like` when given (a replaced file keeps its permissions; what root's
    // programs keep in /tmp is passed only as own_regular() accepts it, so
    // never with a write bit for others), else the caller's user and mode
    // 0644 less what the umask removes. 0, or -errno.
    int begin(const char *target, const struct stat *like = nullptr);
    int fd() const { return fd_.get(); }
    // Appends bytes to the new text. 0, or -errno.
    int write(std::span<const char> bytes);
    // Puts the new text in place; synced, the data and the rename reach
    // storage before this returns. 0, or -errno (target unchanged).
    int commit(durability d = durability::synced);
};

// Removes the temporary files of replacements of `target` that a killed run
// left behind: our own regular files named as only our temporaries are
// (the target's name, ".tmp~" and six letters or digits). With `idle_s` 0,
// every one: only for a caller that no other replacement of `target` can
// run beside (under its lock, or its only writer). Else only those not
// written for `idle_s` seconds: a live replacement names its temporary
// after its last write and renames it at once, so one that idle belongs to
// no live run (a run stalled that long loses it, and says so: its rename
// fails).
void remove_stale_replacements(const char *target, int idle_s = 0);

// A new file for a replacement of `target`, in its directory: unnamed where
// the file system allows (`unnamed` true), of `mode` less the umask; else
// already named `temp` (PATH_MAX bytes, the temporary name's pattern either
// way), of mode 0600. The descriptor, or -errno.
int open_temporary(const char *target, char *temp, bool &unnamed, mode_t mode = 0600);
// A new directory of mode 0700 (less the umask) at `path`, whose last six
// letters (XXXXXX) are chosen as a temporary file's are. 0, or -errno.
int make_temporary_dir(char *path);
// Gives the unnamed file `fd` a temporary name, `temp` as open_temporary()
// made it with its last six letters chosen. 0, or -errno.
int name_temporary(int fd, char *temp);

// The whole replacement in one call. 0, or -errno with the target unchanged.
int replace_file(const char *target, std::span<const char> text,
                 const struct stat *like = nullptr, durability d = durability::synced);
