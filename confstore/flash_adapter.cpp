// The two flash adapters.
#include "flash_adapter.h"

#include "io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/major.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace {

// Opens /dev/mtdN for the MTD block device `blk` (/dev/mtdblockN) after
// checking that it is the same partition: its device number and its size.
// 0; -ENODEV when there is no such character device.
int open_mtd_twin(int block_fd, const struct stat &blk, flash_adapter &a)
{
    const unsigned n = minor(blk.st_rdev);
    char path[32];
    std::snprintf(path, sizeof path, "/dev/mtd%u", n);
    unique_fd fd(::open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
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
    a.fd = fd.get();
    a.twin = std::move(fd);
    a.mtd = true;
    a.size_ = info.size;
    a.erase_ = info.erasesize;
    return 0;
}

bool is_mtd_char(const struct stat &st)
{
    return S_ISCHR(st.st_mode) && major(st.st_rdev) == MTD_CHAR_MAJOR && minor(st.st_rdev) % 2 == 0;
}

} // namespace

namespace {

// Opens `path` without waiting on it (a FIFO would keep the command
// waiting for ever) and keeps it only when `kind_ok` holds for it; a
// directory is EISDIR, anything else refused ENODEV. The descriptor, or -1
// and errno.
template <class Check> int open_checked(const char *path, int flags, Check kind_ok)
{
    unique_fd fd(::open(path, flags | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0)
        return -1;
    if (!kind_ok(st)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
        return -1;
    }
    return fd.release();
}

} // namespace

int flash_open(const char *path, bool write)
{
    return open_checked(path, write ? O_RDWR : O_RDONLY, [](const struct stat &st) {
        return S_ISBLK(st.st_mode) || S_ISREG(st.st_mode) || is_mtd_char(st);
    });
}

int open_regular_input(const char *path)
{
    return open_checked(path, O_RDONLY, [](const struct stat &st) { return S_ISREG(st.st_mode); });
}

int flash_adapter_open(int fd, flash_adapter &a)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return -errno;
    a.fd = a.block_fd = fd;
    if (is_mtd_char(st)) {
        mtd_info_user info;
        if (::ioctl(fd, MEMGETINFO, &info) != 0)
            return -errno;
        a.size_ = info.size;
        a.erase_ = info.erasesize;
        a.block_fd = -1;
        a.mtd = true;
        return 0;
    }
    if (S_ISBLK(st.st_mode) && major(st.st_rdev) == MTD_BLOCK_MAJOR)
        if (int rc = open_mtd_twin(fd, st, a); rc != -ENODEV)
            return rc;
    a.erase_ = flash_file_erase_size;
    if (S_ISBLK(st.st_mode)) {
        unsigned long long size = 0;
        if (::ioctl(fd, BLKGETSIZE64, &size) != 0)
            return -errno;
        a.size_ = size;
        return 0;
    }
    const size_t len = static_cast<size_t>(st.st_size);
    a.size_ = std::max<size_t>(262144, (len + a.erase_ - 1) / a.erase_ * a.erase_);
    return 0;
}

int flash_drop_cache(const flash_adapter &a)
{
    if (!a.twin || a.block_fd < 0)
        return 0;
    if (::ioctl(a.block_fd, BLKFLSBUF, 0) == 0)
        return 0;
    // Without the right to flush the buffers, clean pages can still go.
    if (::fdatasync(a.block_fd) != 0)
        return -errno;
    return -::posix_fadvise(a.block_fd, 0, 0, POSIX_FADV_DONTNEED);
}

int flash_adapter::read(size_t at, std::span<char> out)
{
    ssize_t n = read_full_at(fd, out, static_cast<off_t>(at));
    if (n < 0)
        return static_cast<int>(n);
    // Behind a file's end: erased.
    std::memset(out.data() + n, 0xFF, out.size() - static_cast<size_t>(n));
    return 0;
}

int flash_adapter::erase(size_t at)
{
    if (mtd) {
        erase_info_user e{static_cast<__u32>(at), static_cast<__u32>(erase_)};
        return ::ioctl(fd, MEMERASE, &e) == 0 ? 0 : -errno;
    }
    char ff[4096];
    std::memset(ff, 0xFF, sizeof ff);
    const size_t end = std::min(at + erase_, size_);
    for (size_t i = at; i < end; i += sizeof ff)
        if (int rc = write_all_at(fd, std::span<const char>(ff, std::min(sizeof ff, end - i)),
                                  static_cast<off_t>(i)))
            return rc;
    return 0;
}

int flash_adapter::program(size_t at, std::span<const char> bytes)
{
    return write_all_at(fd, bytes, static_cast<off_t>(at));
}

int flash_adapter::sync()
{
    // The character device writes through; a file or block device is synced.
    if (mtd)
        return 0;
    return ::fsync(fd) == 0 ? 0 : -errno;
}
