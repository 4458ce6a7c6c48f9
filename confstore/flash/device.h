// The flash partition as the device that the write (write.h) calls. The
// partition is opened once per command, for reading only; a save that
// changes something opens it for writing (writable()), the very device it
// read, and a partition the kernel keeps read-only refuses that. So the
// program runs the same write on the device, on a loop device and on a
// file.
#pragma once

#include "unique_fd.h"

#include <cstddef>
#include <span>
#include <sys/stat.h>

// What stands at the partition's path, found once when it is opened. A new
// kind is a value here and a case in each operation of device.cpp.
enum class flash_kind : unsigned char {
    // The partition's MTD character device (/dev/mtdN): blocks are read,
    // erased and programmed directly, rather than through the block
    // emulation's cache and its erase-and-rewrite of a whole block at every
    // write-back.
    mtd,
    // The MTD block device /dev/mtdblockN, read and written through the
    // character device /dev/mtdN beside it.
    mtd_twin,
    // The same where /dev has no /dev/mtdN but the kernel has the device:
    // through a node of our own (mtd_node), its number from sysfs.
    mtd_node,
    // Any other block device (a loop device, or an MTD block device whose
    // kernel has no character device): an erase writes 0xFF over a block
    // of flash_file_erase_size, a program writes its bytes, a sync is
    // fsync, and a read drops the cached pages first, so that it reads
    // what the device holds.
    block,
    // A regular file, as a block device; one shorter than flash_image_max
    // counts as that long, its missing bytes as erased.
    file,
};

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

class flash_device {
    const char *path_ = nullptr;
    struct stat opened_ {};
    flash_kind kind_ = flash_kind::file;
    unique_fd dev_;        // the path as opened, for reading
    unique_fd twin_;       // mtd_twin, mtd_node: the character device, for reading
    unique_fd rw_;         // opened for writing, once needed
    mtd_node node_;        // mtd_node: the node of our own
    char twin_path_[32] = "";
    int no_write_ = 0;     // why it cannot be opened for writing, or 0
    size_t size_ = 0, erase_ = 0;

    int fd() const;
    int open_twin();
    int measure();
    int drop_block_cache() const;

public:
    // Opens the flash device at `path` for reading, without waiting on it:
    // only a block device, an MTD character device or a regular file is
    // taken (else -ENODEV; a directory -EISDIR). 0, or -errno.
    int open(const char *path);
    bool is_open() const { return static_cast<bool>(dev_); }

    size_t size() const { return size_; }
    size_t erase_size() const { return erase_; }

    // The write's device (write.h), each 0 or -errno.
    int read(size_t at, std::span<char> out);
    int writable();
    int erase(size_t at);
    int program(size_t at, std::span<const char> bytes);
    int sync();
    // After writing through the character device: the block device's caches
    // go, so that nothing stale is written back and later reads through it
    // see the new bytes.
    int done();
};
