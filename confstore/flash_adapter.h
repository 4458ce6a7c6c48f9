// The flash partition as the write (flash_write.h) sees it: a size, an
// erase block size, reads, erases, programs and syncs. Two adapters:
//
// - the partition's MTD character device (/dev/mtdN beside the block device
//   /dev/mtdblockN): blocks are erased and programmed directly, rather than
//   through the block emulation's erase-and-rewrite of a whole block at
//   every write-back;
// - a regular file or any other block device: an erase writes 0xFF over a
//   block of 64 KiB, a program writes its bytes, a sync is fsync. A file
//   shorter than 256 KiB counts as that long, its missing bytes as erased.
//
// So the program runs the same write on the device, on a loop device and on
// a file.
#pragma once

#include "unique_fd.h"

#include <cstddef>
#include <span>

inline constexpr size_t flash_file_erase_size = 65536;

struct flash_adapter {
    unique_fd twin;      // the character device beside a block device
    bool mtd = false;    // reads and writes go to an MTD character device
    int fd = -1;         // where they go
    int block_fd = -1;   // the device as opened, whose caches are dropped
    size_t size_ = 0, erase_ = 0;

    size_t size() const { return size_; }
    size_t erase_size() const { return erase_; }
    int read(size_t at, std::span<char> out);
    int erase(size_t at);
    int program(size_t at, std::span<const char> bytes);
    int sync();
};

// Opens the flash device at `path` for reading (and writing), without
// waiting on it: only a block device, an MTD character device or a regular
// file is taken (else -1 with errno ENODEV). The descriptor, or -1 and errno.
int flash_open(const char *path, bool write);

// The adapter for the open device `fd`. 0, or -errno.
int flash_adapter_open(int fd, flash_adapter &a);

// Drops what the block device holds in its caches, so that reads through it
// see what was written through the character device. 0, or -errno.
int flash_drop_cache(const flash_adapter &a);

// Opens a regular file for reading without waiting on it (a FIFO, a device
// or a directory in its place is refused with ENODEV or EISDIR).
int open_regular_input(const char *path);
