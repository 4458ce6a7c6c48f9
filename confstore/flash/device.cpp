// The flash device, one case of each operation for each kind.
#include "flash/device.h"

#include "flash/layout.h"

#include "format.h"
#include "io.h"
#include "read_file.h"
#include "replace_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/major.h>
#include <mtd/mtd-user.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace {

// mtdN is character minor 2N (2N + 1 is its read-only twin).
bool is_mtd_char(const struct stat &st, unsigned n)
{
    return S_ISCHR(st.st_mode) && major(st.st_rdev) == MTD_CHAR_MAJOR && minor(st.st_rdev) == 2 * n;
}

bool is_mtd_char(const struct stat &st)
{
    return is_mtd_char(st, minor(st.st_rdev) / 2);
}

bool flash_kind_ok(const struct stat &st)
{
    return S_ISBLK(st.st_mode) || S_ISREG(st.st_mode) || is_mtd_char(st);
}

// The kind by what was opened; an MTD block device is taken through its
// character device until that is found missing.
flash_kind kind_of(const struct stat &st)
{
    if (S_ISREG(st.st_mode))
        return flash_kind::file;
    if (is_mtd_char(st))
        return flash_kind::mtd;
    return major(st.st_rdev) == MTD_BLOCK_MAJOR ? flash_kind::mtd_twin : flash_kind::block;
}

// The same device node, or the same file.
bool same_device(const struct stat &a, const struct stat &b)
{
    if ((a.st_mode & S_IFMT) != (b.st_mode & S_IFMT))
        return false;
    if (S_ISREG(a.st_mode))
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    return a.st_rdev == b.st_rdev;
}

// The decimal number at `at`, `at` left behind it (no library scanner for
// two small numbers).
unsigned decimal(const char *&at)
{
    unsigned v = 0;
    for (; *at >= '0' && *at <= '9' && v < 100000; ++at)
        v = v * 10 + static_cast<unsigned>(*at - '0');
    return v;
}

int mtd_info(int fd, mtd_info_user &info)
{
    return device_ioctl(fd, MEMGETINFO, &info) == 0 ? 0 : -errno;
}

// An MTD partition the kernel keeps read-only cannot be opened for writing.
int mtd_no_write(const mtd_info_user &info)
{
    return (info.flags & MTD_WRITEABLE) == 0 ? -EROFS : 0;
}

int block_size(int fd, size_t &size)
{
    unsigned long long bytes = 0;
    if (device_ioctl(fd, BLKGETSIZE64, &bytes) != 0)
        return -errno;
    size = bytes;
    return 0;
}

} // namespace

mtd_node::~mtd_node()
{
    if (*path_)
        ::unlink(path_);
    if (*dir_)
        ::rmdir(dir_);
}

int mtd_node::make(unsigned n)
{
    char sys[48], number[24] = "";
    format_into(sys, "/sys/class/mtd/mtd%u/dev", n);
    unique_fd fd(::open(sys, O_RDONLY | O_CLOEXEC));
    if (!fd)
        return errno == ENOENT ? -ENODEV : -errno;
    // "MAJOR:MINOR\n"
    if (::read(fd.get(), number, sizeof number - 1) <= 0)
        return -ENODEV;
    const char *at = number;
    const unsigned maj = decimal(at), min = *at == ':' ? decimal(++at) : ~0u;
    if (maj != MTD_CHAR_MAJOR || min != 2 * n)
        return -ENODEV;
    format_into(dir_, "/tmp/.mtd~XXXXXX");
    if (int rc = make_temporary_dir(dir_)) {
        *dir_ = '\0';
        return rc;
    }
    format_into(path_, "%s/mtd%u", static_cast<const char *>(dir_), n);
    if (::mknod(path_, S_IFCHR | 0600, makedev(maj, min)) != 0) {
        *path_ = '\0';
        return -errno;
    }
    return 0;
}

int flash_device::open(const char *path)
{
    path_ = path;
    const int fd = open_checked(path, O_RDONLY, flash_kind_ok, opened_);
    if (fd < 0)
        return fd;
    dev_.reset(fd);
    kind_ = kind_of(opened_);
    if (kind_ == flash_kind::mtd_twin)
        if (int rc = open_twin(); rc != 0) {
            if (rc != -ENODEV)
                return rc;
            kind_ = flash_kind::block;
        }
    return measure();
}

// Opens /dev/mtdN for the MTD block device /dev/mtdblockN, or a node of our
// own where /dev has none, after checking that it is the same partition:
// its device number and its size. 0 (the kind mtd_twin or mtd_node, its
// size measured), -ENODEV when there is no such character device, -errno.
int flash_device::open_twin()
{
    const unsigned n = minor(opened_.st_rdev);
    format_into(twin_path_, "/dev/mtd%u", n);
    constexpr int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    unique_fd fd(::open(twin_path_, flags));
    if (!fd && errno == ENOENT) {
        // Without a node of our own (no room in /tmp, say) the partition is
        // read through the block device, but not written through it.
        if (int rc = node_.make(n)) {
            if (rc != -ENODEV)
                no_write_ = rc;
            return -ENODEV;
        }
        kind_ = flash_kind::mtd_node;
        format_into(twin_path_, "%s", node_.path());
        fd.reset(::open(twin_path_, flags));
    }
    if (!fd)
        return errno == ENOENT ? -ENODEV : -errno;
    struct stat chr;
    if (::fstat(fd.get(), &chr) != 0)
        return -errno;
    if (!is_mtd_char(chr, n))
        return -ENODEV;
    mtd_info_user info;
    size_t blk_size = 0;
    if (int rc = mtd_info(fd.get(), info); rc != 0)
        return rc;
    if (int rc = block_size(dev_.get(), blk_size); rc != 0)
        return rc;
    if (info.size != blk_size || info.erasesize == 0)
        return -ENODEV;
    twin_ = std::move(fd);
    // What others wrote through the block device reaches the chip first.
    return drop_block_cache();
}

// The partition's size, its erase block size, and whether it takes writes.
int flash_device::measure()
{
    mtd_info_user info;
    switch (kind_) {
    case flash_kind::mtd:
    case flash_kind::mtd_twin:
    case flash_kind::mtd_node:
        if (int rc = mtd_info(fd(), info); rc != 0)
            return rc;
        size_ = info.size;
        erase_ = info.erasesize;
        no_write_ = mtd_no_write(info);
        return 0;
    case flash_kind::block:
        erase_ = flash_file_erase_size;
        return block_size(dev_.get(), size_);
    case flash_kind::file:
        erase_ = flash_file_erase_size;
        size_ = std::max(flash_image_max,
                         (static_cast<size_t>(opened_.st_size) + erase_ - 1) / erase_ * erase_);
        return 0;
    }
    return -ENODEV;
}

// Where reads and writes go.
int flash_device::fd() const
{
    if (rw_)
        return rw_.get();
    switch (kind_) {
    case flash_kind::mtd_twin:
    case flash_kind::mtd_node: return twin_.get();
    case flash_kind::mtd:
    case flash_kind::block:
    case flash_kind::file: break;
    }
    return dev_.get();
}

int flash_device::drop_block_cache() const
{
    if (device_ioctl(dev_.get(), BLKFLSBUF, nullptr) == 0)
        return 0;
    // Without the right to flush the buffers, clean pages can still go.
    if (::fdatasync(dev_.get()) != 0)
        return -errno;
    return -::posix_fadvise(dev_.get(), 0, 0, POSIX_FADV_DONTNEED);
}

int flash_device::writable()
{
    if (rw_)
        return 0;
    if (no_write_)
        return no_write_;
    const char *path = path_;
    int flags = O_RDWR | O_CLOEXEC | O_NONBLOCK;
    struct stat was = opened_;
    switch (kind_) {
    case flash_kind::mtd_twin:
    case flash_kind::mtd_node:
        path = twin_path_;
        flags |= O_NOFOLLOW;
        if (::fstat(twin_.get(), &was) != 0)
            return -errno;
        break;
    case flash_kind::mtd:
    case flash_kind::block:
    case flash_kind::file: break;
    }
    unique_fd fd(::open(path, flags));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0)
        return -errno;
    // Only the device that was read is written, whatever stands at the
    // path by now.
    if (!same_device(st, was))
        return -ENODEV;
    // A block device the kernel keeps read-only opens for writing, then
    // refuses every write.
    int ro = 0;
    if (S_ISBLK(st.st_mode) && device_ioctl(fd.get(), BLKROGET, &ro) == 0 && ro)
        return -EROFS;
    rw_ = std::move(fd);
    return 0;
}

int flash_device::read(size_t at, std::span<char> out)
{
    switch (kind_) {
    case flash_kind::mtd:
    case flash_kind::mtd_twin:
    case flash_kind::mtd_node: break;
    case flash_kind::block:
    case flash_kind::file:
        // Past the page cache: what the device holds. (Only clean pages
        // go; dirty ones are the newest bytes anyway.)
        ::posix_fadvise(fd(), static_cast<off_t>(at), static_cast<off_t>(out.size()),
                        POSIX_FADV_DONTNEED);
        break;
    }
    ssize_t n = read_full_at(fd(), out, static_cast<off_t>(at));
    if (n < 0)
        return static_cast<int>(n);
    // Behind a file's end: erased.
    std::memset(out.data() + n, 0xFF, out.size() - static_cast<size_t>(n));
    return 0;
}

int flash_device::erase(size_t at)
{
    if (!rw_)
        return -EBADF;
    switch (kind_) {
    case flash_kind::mtd:
    case flash_kind::mtd_twin:
    case flash_kind::mtd_node: {
        erase_info_user e{static_cast<__u32>(at), static_cast<__u32>(erase_)};
        return device_ioctl(fd(), MEMERASE, &e) == 0 ? 0 : -errno;
    }
    case flash_kind::block:
    case flash_kind::file: break;
    }
    char ff[4096];
    std::memset(ff, 0xFF, sizeof ff);
    const size_t block_end = std::min(at + erase_, size_);
    for (size_t i = at; i < block_end; i += sizeof ff) {
        const std::span<const char> piece(ff, std::min(sizeof ff, block_end - i));
        if (int rc = write_all_at(fd(), piece, static_cast<off_t>(i)))
            return rc;
    }
    return 0;
}

int flash_device::program(size_t at, std::span<const char> bytes)
{
    return rw_ ? write_all_at(fd(), bytes, static_cast<off_t>(at)) : -EBADF;
}

int flash_device::sync()
{
    switch (kind_) {
    case flash_kind::mtd:
    case flash_kind::mtd_twin:
    case flash_kind::mtd_node: return 0;  // the character device writes through
    case flash_kind::block:
    case flash_kind::file: break;
    }
    return ::fsync(fd()) == 0 ? 0 : -errno;
}

int flash_device::done()
{
    switch (kind_) {
    case flash_kind::mtd_twin:
    case flash_kind::mtd_node: return rw_ ? drop_block_cache() : 0;
    case flash_kind::mtd:
    case flash_kind::block:
    case flash_kind::file: break;
    }
    return 0;
}
