// The two flash adapters.
#include "flash_adapter.h"

#include "format.h"
#include "io.h"
#include "replace_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/major.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace {

bool is_mtd_char(const struct stat &st)
{
    return S_ISCHR(st.st_mode) && major(st.st_rdev) == MTD_CHAR_MAJOR && minor(st.st_rdev) % 2 == 0;
}

bool flash_kind(const struct stat &st)
{
    return S_ISBLK(st.st_mode) || S_ISREG(st.st_mode) || is_mtd_char(st);
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

int open_regular_input(const char *path)
{
    return open_checked(path, O_RDONLY, [](const struct stat &st) { return S_ISREG(st.st_mode); });
}

int flash_adapter::open(const char *path)
{
    path_ = path;
    dev_.reset(open_checked(path, O_RDONLY, flash_kind));
    if (!dev_ || ::fstat(dev_.get(), &opened_) != 0)
        return -errno;
    fd_ = dev_.get();
    if (is_mtd_char(opened_)) {
        mtd_info_user info;
        if (device_ioctl(fd_, MEMGETINFO, &info) != 0)
            return -errno;
        size_ = info.size;
        erase_ = info.erasesize;
        locked_ = (info.flags & MTD_WRITEABLE) == 0;
        mtd_ = true;
        return 0;
    }
    if (S_ISBLK(opened_.st_mode) && major(opened_.st_rdev) == MTD_BLOCK_MAJOR)
        if (int rc = open_twin(); rc != -ENODEV)
            return rc;
    erase_ = flash_file_erase_size;
    if (S_ISBLK(opened_.st_mode)) {
        unsigned long long size = 0;
        if (device_ioctl(fd_, BLKGETSIZE64, &size) != 0)
            return -errno;
        size_ = size;
        return 0;
    }
    const size_t len = static_cast<size_t>(opened_.st_size);
    size_ = std::max<size_t>(262144, (len + erase_ - 1) / erase_ * erase_);
    return 0;
}

namespace {

// The decimal number at `at`, `at` left behind it (no library scanner for
// two small numbers).
unsigned decimal(const char *&at)
{
    unsigned v = 0;
    for (; *at >= '0' && *at <= '9' && v < 100000; ++at)
        v = v * 10 + static_cast<unsigned>(*at - '0');
    return v;
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
    // mtdN is character minor 2N (2N + 1 is its read-only twin).
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

// Opens /dev/mtdN for the MTD block device (/dev/mtdblockN), or a node of
// our own where /dev has none, after checking that it is the same
// partition: its device number and its size. 0; -ENODEV when there is no
// such character device.
int flash_adapter::open_twin()
{
    const unsigned n = minor(opened_.st_rdev);
    format_into(twin_path_, "/dev/mtd%u", n);
    unique_fd fd(::open(twin_path_, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd && errno == ENOENT) {
        // Without a node of our own (no room in /tmp, say) the partition is
        // read through the block device, but not written through it.
        if (int rc = node_.make(n)) {
            no_twin_ = rc;
            return -ENODEV;
        }
        format_into(twin_path_, "%s", node_.path());
        fd.reset(::open(twin_path_, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    }
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
    if (device_ioctl(fd.get(), MEMGETINFO, &info) != 0 || device_ioctl(dev_.get(), BLKGETSIZE64, &blk_size) != 0)
        return -errno;
    if (info.size != blk_size || info.erasesize == 0)
        return -ENODEV;
    twin_ = std::move(fd);
    fd_ = twin_.get();
    mtd_ = true;
    size_ = info.size;
    erase_ = info.erasesize;
    locked_ = (info.flags & MTD_WRITEABLE) == 0;
    // What others wrote through the block device reaches the chip first.
    return drop_block_cache();
}

int flash_adapter::drop_block_cache() const
{
    if (device_ioctl(dev_.get(), BLKFLSBUF, nullptr) == 0)
        return 0;
    // Without the right to flush the buffers, clean pages can still go.
    if (::fdatasync(dev_.get()) != 0)
        return -errno;
    return -::posix_fadvise(dev_.get(), 0, 0, POSIX_FADV_DONTNEED);
}

int flash_adapter::writable()
{
    if (rw_)
        return 0;
    if (locked_)
        return -EROFS;
    if (no_twin_ != -ENODEV)
        return no_twin_;
    const char *path = twin_ ? twin_path_ : path_;
    struct stat was = opened_;
    if (twin_ && ::fstat(twin_.get(), &was) != 0)
        return -errno;
    unique_fd fd(::open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK | (twin_ ? O_NOFOLLOW : 0)));
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
    fd_ = rw_.get();
    return 0;
}

int flash_adapter::read(size_t at, std::span<char> out)
{
    // Past the page cache of a file or block device: what the device
    // holds. (Only clean pages go; dirty ones are the newest bytes anyway.)
    if (!mtd_)
        ::posix_fadvise(fd_, static_cast<off_t>(at), static_cast<off_t>(out.size()),
                        POSIX_FADV_DONTNEED);
    ssize_t n = read_full_at(fd_, out, static_cast<off_t>(at));
    if (n < 0)
        return static_cast<int>(n);
    // Behind a file's end: erased.
    std::memset(out.data() + n, 0xFF, out.size() - static_cast<size_t>(n));
    return 0;
}

int flash_adapter::erase(size_t at)
{
    if (!rw_)
        return -EBADF;
    if (mtd_) {
        erase_info_user e{static_cast<__u32>(at), static_cast<__u32>(erase_)};
        return device_ioctl(fd_, MEMERASE, &e) == 0 ? 0 : -errno;
    }
    char ff[4096];
    std::memset(ff, 0xFF, sizeof ff);
    const size_t end = std::min(at + erase_, size_);
    for (size_t i = at; i < end; i += sizeof ff)
        if (int rc = write_all_at(fd_, std::span<const char>(ff, std::min(sizeof ff, end - i)),
                                  static_cast<off_t>(i)))
            return rc;
    return 0;
}

int flash_adapter::program(size_t at, std::span<const char> bytes)
{
    return rw_ ? write_all_at(fd_, bytes, static_cast<off_t>(at)) : -EBADF;
}

int flash_adapter::sync()
{
    // The character device writes through; a file or block device is synced.
    if (mtd_)
        return 0;
    return ::fsync(fd_) == 0 ? 0 : -errno;
}

int flash_adapter::done()
{
    return twin_ && rw_ ? drop_block_cache() : 0;
}
