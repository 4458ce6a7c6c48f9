// Finding and driving the MTD character device of the flash partition.
#include "flash_mtd.h"

#include "io.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/major.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

int flash_mtd_open(int block_fd, flash_mtd &mtd)
{
    struct stat blk;
    if (::fstat(block_fd, &blk) != 0)
        return -errno;
    if (!S_ISBLK(blk.st_mode) || major(blk.st_rdev) != MTD_BLOCK_MAJOR)
        return -ENODEV;
    const unsigned n = minor(blk.st_rdev);
    char path[32];
    std::snprintf(path, sizeof path, "/dev/mtd%u", n);
    unique_fd fd(::open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd)
        return errno == ENOENT ? -ENODEV : -errno;
    // mtdN is character minor 2N (2N + 1 is its read-only twin).
    struct stat chr;
    if (::fstat(fd.get(), &chr) != 0)
        return -errno;
    if (!S_ISCHR(chr.st_mode) || major(chr.st_rdev) != MTD_CHAR_MAJOR || minor(chr.st_rdev) != 2 * n)
        return -ENODEV;
    mtd_info_user info;
    unsigned long long blk_size = 0;
    if (::ioctl(fd.get(), MEMGETINFO, &info) != 0 || ::ioctl(block_fd, BLKGETSIZE64, &blk_size) != 0)
        return -errno;
    if (info.size != blk_size || info.erasesize == 0)
        return -ENODEV;
    mtd.fd = std::move(fd);
    mtd.size_ = info.size;
    mtd.erase_ = info.erasesize;
    return 0;
}

int flash_mtd_drop_cache(int block_fd)
{
    if (::ioctl(block_fd, BLKFLSBUF, 0) == 0)
        return 0;
    // Without the right to flush the buffers, clean pages can still go.
    if (::fdatasync(block_fd) != 0)
        return -errno;
    int rc = ::posix_fadvise(block_fd, 0, 0, POSIX_FADV_DONTNEED);
    return -rc;
}

int flash_mtd::read(size_t at, std::span<char> out)
{
    ssize_t n = read_full_at(fd.get(), out, static_cast<off_t>(at));
    return n < 0 ? static_cast<int>(n) : static_cast<size_t>(n) == out.size() ? 0 : -EIO;
}

int flash_mtd::erase(size_t at)
{
    erase_info_user e{static_cast<__u32>(at), static_cast<__u32>(erase_)};
    return ::ioctl(fd.get(), MEMERASE, &e) == 0 ? 0 : -errno;
}

int flash_mtd::program(size_t at, std::span<const char> bytes)
{
    return write_all_at(fd.get(), bytes, static_cast<off_t>(at));
}
