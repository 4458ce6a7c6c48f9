// The flash partition as the write (flash_write.h) sees it: a size, an
// erase block size, reads, erases, programs and syncs. Two kinds:
//
// - the partition's MTD character device (/dev/mtdN beside the block device
//   /dev/mtdblockN; where /dev has no such node but the kernel has the
//   device, a node of our own, made for the command in a directory only
//   root can enter and removed after it): blocks are read, erased and
//   programmed directly, rather than through the block emulation's cache
//   and its erase-and-rewrite of a whole block at every write-back;
// - a regular file or any other block device: an erase writes 0xFF over a
//   block of 64 KiB, a program writes its bytes, a sync is fsync, and a
//   read drops the cached pages first, so that it reads what the device
//   holds. A file shorter than 256 KiB counts as that long, its missing
//   bytes as erased.
//
// So the program runs the same write on the device, on a loop device and on
// a file. The partition is opened once per command, for reading only; a
// save that changes something opens it for writing (writable()), the very
// device it read, and a partition the kernel keeps read-only refuses that.
#pragma once

#include "unique_fd.h"

#include <cerrno>
#include <cstddef>
#include <span>
#include <sys/stat.h>

inline constexpr size_t flash_file_erase_size = 65536;

// A node of the MTD character device mtdN of our own, for a /dev without
// one: made in a fresh directory of mode 0700 under /tmp, removed with the
// object.
class mtd_node {
    char dir_[24] = "";
    char path_[32] = "";

public:
    mtd_node() = default;
    mtd_node(const mtd_node &) = delete;
    mtd_node &operator=(const mtd_node &) = delete;
    ~mtd_node();
    // Makes the node of mtdN (its number from /sys/class/mtd/mtdN/dev).
    // 0; -ENODEV when the kernel has no such character device; -errno.
    int make(unsigned n);
    const char *path() const { return path_; }
};

class flash_adapter {
    const char *path_ = nullptr;
    struct stat opened_ {};
    unique_fd dev_;       // the path as opened, for reading
    unique_fd twin_;      // the character device beside a block device
    unique_fd rw_;        // opened for writing, once needed
    mtd_node node_;       // the twin's node, where /dev has none
    int no_twin_ = -ENODEV;  // why the kernel's twin could not be had, if it has one
    char twin_path_[32] = "";
    bool mtd_ = false;    // reads and writes go to an MTD character device
    bool locked_ = false; // an MTD partition the kernel keeps read-only
    int fd_ = -1;         // where they go
    size_t size_ = 0, erase_ = 0;

    int open_twin();
    int drop_block_cache() const;

public:
    // Opens the flash device at `path` for reading, without waiting on it:
    // only a block device, an MTD character device or a regular file is
    // taken (else -ENODEV; a directory -EISDIR). 0, or -errno.
    int open(const char *path);
    bool is_open() const { return static_cast<bool>(dev_); }

    size_t size() const { return size_; }
    size_t erase_size() const { return erase_; }
    int read(size_t at, std::span<char> out);
    int writable();
    int erase(size_t at);
    int program(size_t at, std::span<const char> bytes);
    int sync();
    // After writing through the character device: the block device's caches
    // go, so that nothing stale is written back and later reads through it
    // see the new bytes. 0, or -errno.
    int done();
};

// Opens a regular file for reading without waiting on it (a FIFO, a device
// or a directory in its place is refused with ENODEV or EISDIR).
int open_regular_input(const char *path);
