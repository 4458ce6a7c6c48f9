// Opening a file in a directory that everyone may write (/tmp). What root's
// programs keep there as their own (the working configuration, its lock,
// the shell copy, the reports) must be root's own file: another user's
// file, link or FIFO planted at the same name is never read as ours, never
// written through, and never waited on. Nor is a file of root's that others
// may write (created under umask 0, say), or one with a second hard link (a
// name another user may have made for any file of root's on the same file
// system, where the kernel does not restrict hard links). Every program
// decides this here.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

// Why an open was refused although the system would have allowed it.
enum class distrust : unsigned char {
    none,
    foreign_link,  // a symbolic link of another user: never followed
    foreign_file,  // a file of another user: never taken for ours
    not_regular,   // a FIFO or socket: no text, and a FIFO would keep us waiting
    writable,      // ours, but group or others may write it
    linked,        // ours, but with more than one hard link
};

// The reason in words, as the programs print it ("a file of another user").
const char *distrust_text(distrust why);

// True for a file that may stand in /tmp as the caller's own: a regular
// file of the caller's user that no group or other user may write, with one
// hard link.
bool own_regular(const struct stat &st);

// Who may own what trusted_open accepts.
enum class owner : unsigned char {
    self,  // the caller's user: a file the program keeps as its own
    any,   // anyone: a file the caller named (the target of `y`)
};

// Like open(2), but never follows a symbolic link of another user (in a
// sticky directory only its owner can replace a link, so our own link
// stays ours), never blocks (a FIFO is refused, not waited on), and takes
// only a file of the owner asked for: a regular file of our own only as
// own_regular() accepts it. A directory or a device node of our own (the
// flash copy is one) opens as the system allows; reading or writing a
// directory then fails by itself. The descriptor, or -errno; for a refusal
// `why` (when given) says which (the error is then ELOOP for another
// user's link, EINVAL for a FIFO or socket, else EPERM) and stays none for
// a failure of the system.
int trusted_open(const char *path, int flags, mode_t mode = 0, distrust *why = nullptr,
                 owner who = owner::self);
