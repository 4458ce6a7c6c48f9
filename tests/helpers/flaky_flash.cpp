// A flash partition whose reads fail in given ranges, for the sandbox
// tests: serves one image file as the file DIR/flash through the kernel's
// FUSE device, speaking its protocol directly (no library), uncached, so
// that every read and write of the file reaches the image:
//
//   flaky_flash IMAGE DIR [FROM-TO]...
//
// A read that touches any byte of a range [FROM, TO) fails with EIO;
// everything else reads and writes IMAGE. It mounts DIR, then serves in the
// background until DIR is unmounted (umount DIR), and exits then. Status 0
// once mounted; 1 and a line on standard error when it could not be.
#include <linux/fuse.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct range {
    unsigned long long from, to;
};

int dev_fd = -1, image_fd = -1;
std::vector<range> bad;
constexpr unsigned long long root_id = FUSE_ROOT_ID, file_id = 2;
char buf[FUSE_MIN_READ_BUFFER + (1 << 17)];

void reply(const fuse_in_header &in, int err, const void *data = nullptr, size_t len = 0)
{
    fuse_out_header out{static_cast<uint32_t>(sizeof out + len), -err, in.unique};
    std::vector<char> msg(sizeof out + len);
    std::memcpy(msg.data(), &out, sizeof out);
    if (len)
        std::memcpy(msg.data() + sizeof out, data, len);
    if (::write(dev_fd, msg.data(), msg.size()) < 0 && errno != ENOENT)
        std::perror("flaky_flash: reply");
}

void attr_of(unsigned long long id, fuse_attr &a)
{
    struct stat st;
    ::fstat(image_fd, &st);
    a = {};
    a.ino = id;
    a.mode = id == root_id ? S_IFDIR | 0755 : S_IFREG | 0600;
    a.nlink = id == root_id ? 2 : 1;
    a.size = id == root_id ? 0 : static_cast<uint64_t>(st.st_size);
    a.blksize = 4096;
}

bool unreadable(unsigned long long at, unsigned long long len)
{
    for (const range &r : bad)
        if (at < r.to && at + len > r.from)
            return true;
    return false;
}

// One request; false once the file system is gone.
bool serve(const fuse_in_header &in, const char *arg)
{
    switch (in.opcode) {
    case FUSE_INIT: {
        fuse_init_out o{};
        o.major = FUSE_KERNEL_VERSION;
        o.minor = FUSE_KERNEL_MINOR_VERSION;
        o.max_write = 1 << 17;
        o.max_background = 1;
        o.congestion_threshold = 1;
        o.time_gran = 1;
        reply(in, 0, &o, sizeof o);
        return true;
    }
    case FUSE_LOOKUP: {
        if (in.nodeid != root_id || std::strcmp(arg, "flash") != 0) {
            reply(in, ENOENT);
            return true;
        }
        fuse_entry_out o{};
        o.nodeid = file_id;
        attr_of(file_id, o.attr);
        reply(in, 0, &o, sizeof o);
        return true;
    }
    case FUSE_GETATTR:
    case FUSE_SETATTR: {
        fuse_attr_out o{};
        attr_of(in.nodeid, o.attr);
        reply(in, 0, &o, sizeof o);
        return true;
    }
    case FUSE_OPEN:
    case FUSE_OPENDIR: {
        fuse_open_out o{};
        o.open_flags = FOPEN_DIRECT_IO;
        reply(in, 0, &o, sizeof o);
        return true;
    }
    case FUSE_READ: {
        const auto *r = reinterpret_cast<const fuse_read_in *>(arg);
        if (unreadable(r->offset, r->size)) {
            reply(in, EIO);
            return true;
        }
        std::vector<char> data(r->size);
        const ssize_t n = ::pread(image_fd, data.data(), data.size(), static_cast<off_t>(r->offset));
        if (n < 0)
            reply(in, errno);
        else
            reply(in, 0, data.data(), static_cast<size_t>(n));
        return true;
    }
    case FUSE_WRITE: {
        const auto *w = reinterpret_cast<const fuse_write_in *>(arg);
        const ssize_t n = ::pwrite(image_fd, arg + sizeof *w, w->size, static_cast<off_t>(w->offset));
        fuse_write_out o{};
        o.size = n < 0 ? 0 : static_cast<uint32_t>(n);
        if (n < 0)
            reply(in, errno);
        else
            reply(in, 0, &o, sizeof o);
        return true;
    }
    case FUSE_READDIR:
        reply(in, 0);
        return true;
    case FUSE_STATFS: {
        fuse_statfs_out o{};
        o.st.bsize = o.st.frsize = 4096;
        o.st.namelen = 255;
        reply(in, 0, &o, sizeof o);
        return true;
    }
    case FUSE_FSYNC:
        ::fsync(image_fd);
        reply(in, 0);
        return true;
    case FUSE_FLUSH:
    case FUSE_RELEASE:
    case FUSE_RELEASEDIR:
    case FUSE_FSYNCDIR:
    case FUSE_ACCESS:
        reply(in, 0);
        return true;
    case FUSE_FORGET:
    case FUSE_BATCH_FORGET:
    case FUSE_INTERRUPT:
        return true;
    case FUSE_DESTROY:
        reply(in, 0);
        return false;
    default:
        reply(in, ENOSYS);
        return true;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: flaky_flash IMAGE DIR [FROM-TO]...\n");
        return 2;
    }
    for (int i = 3; i < argc; ++i) {
        range r;
        if (std::sscanf(argv[i], "%llu-%llu", &r.from, &r.to) != 2 || r.from >= r.to) {
            std::fprintf(stderr, "flaky_flash: not a range: %s\n", argv[i]);
            return 2;
        }
        bad.push_back(r);
    }
    image_fd = ::open(argv[1], O_RDWR | O_CLOEXEC);
    dev_fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (image_fd < 0 || dev_fd < 0) {
        std::perror("flaky_flash: open");
        return 1;
    }
    char opts[128];
    std::snprintf(opts, sizeof opts, "fd=%d,rootmode=40000,user_id=0,group_id=0,allow_other", dev_fd);
    if (::mount("flaky_flash", argv[2], "fuse", MS_NOSUID | MS_NODEV, opts) != 0) {
        std::perror("flaky_flash: mount");
        return 1;
    }
    // The caller goes on once the file system is there; the server stays.
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("flaky_flash: fork");
        ::umount2(argv[2], MNT_DETACH);
        return 1;
    }
    if (child > 0)
        return 0;
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    for (;;) {
        const ssize_t n = ::read(dev_fd, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == ENOENT || errno == EAGAIN))
            continue;
        if (n < static_cast<ssize_t>(sizeof(fuse_in_header)))
            return 0;  // unmounted (ENODEV)
        fuse_in_header in;
        std::memcpy(&in, buf, sizeof in);
        if (!serve(in, buf + sizeof in))
            return 0;
    }
}
