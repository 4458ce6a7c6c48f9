// The partition's MTD character device, behind the block device that
// emulates it: erase blocks are erased and programmed directly, rather than
// through the block emulation's erase-and-rewrite of a whole block at every
// write-back.
#pragma once

#include "unique_fd.h"

#include <cstddef>
#include <span>

struct flash_mtd {
    unique_fd fd;
    size_t size_ = 0, erase_ = 0;

    size_t size() const { return size_; }
    size_t erase_size() const { return erase_; }
    int read(size_t at, std::span<char> out);
    int erase(size_t at);
    int program(size_t at, std::span<const char> bytes);
};

// Opens /dev/mtdN for the block device `block_fd` (/dev/mtdblockN), after
// checking that it is the same partition: its device number and its size.
// 0; -ENODEV when `block_fd` is no MTD block device or has no character
// device beside it; another -errno when it cannot be used.
int flash_mtd_open(int block_fd, flash_mtd &mtd);

// Drops what the block device holds in its caches, so that reads through it
// see what was written through the character device. 0, or -errno.
int flash_mtd_drop_cache(int block_fd);
