// Writing the flash image.
//
// A commit or reset may be cut short at any moment (power lost, process
// killed), and the next restore must then find the old valid copy, the new
// valid copy, or an invalid one, never half of each. The lookup of the
// validity marker takes the first SYS_CHECK line, so the write goes in three
// steps, each synced before the next:
//
//   1. a guard line "SYS_CHECK=0\n" at offset 0: from here on the copy is
//      invalid, whatever stands behind the guard;
//   2. the new image from behind the guard to the last byte that changes;
//   3. the new image's first bytes over the guard: one write within one
//      sector, after which the copy is the new one, valid exactly when the
//      new text holds the marker.
//
// This rests on the device writing a sector whole or not at all. When
// nothing changes behind the guard's bytes, step 3 alone does it; and
// nothing is written when the device already holds the image, which spares
// the flash its erase cycles.
//
// On NOR flash behind its block emulation a written sector does not land
// whole: every write-back erases and reprograms a whole erase block. When
// the partition's character device is there, the image goes through it
// instead (nor_write.h), erasing only the blocks that change.
#include "flash_device.h"
#include "flash_mtd.h"
#include "io.h"
#include "nor_write.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char guard_line[] = "SYS_CHECK=0\n";
constexpr size_t guard_size = sizeof guard_line - 1;
constexpr size_t chunk_size = 65536;

long long cut_budget = -1;

// Two heap chunks: the device's bytes and the image's, side by side.
class chunk_pair {
    char *p_ = static_cast<char *>(std::malloc(2 * chunk_size));

public:
    chunk_pair() = default;
    chunk_pair(const chunk_pair &) = delete;
    chunk_pair &operator=(const chunk_pair &) = delete;
    ~chunk_pair() { std::free(p_); }
    explicit operator bool() const { return p_ != nullptr; }
    std::span<char> device(size_t n) const { return {p_, n}; }
    std::span<char> image(size_t n) const { return {p_ + chunk_size, n}; }
};

struct byte_range {
    size_t begin, end;
    bool empty() const { return begin >= end; }
};

// Bytes read at `at`, fewer only at the device's end; -errno on failure.
ssize_t read_at(int fd, std::span<char> buf, size_t at)
{
    return read_full_at(fd, buf, static_cast<off_t>(at));
}

int write_at(int fd, std::span<const char> bytes, size_t at)
{
    bool cut = cut_budget >= 0 && bytes.size() > static_cast<unsigned long long>(cut_budget);
    if (cut)
        bytes = bytes.first(static_cast<size_t>(cut_budget));
    if (cut_budget >= 0)
        cut_budget -= static_cast<long long>(bytes.size());
    if (int rc = write_all_at(fd, bytes, static_cast<off_t>(at)))
        return rc;
    return cut ? -ECANCELED : 0;
}

int sync_device(int fd)
{
    return ::fsync(fd) == 0 ? 0 : -errno;
}

// The bytes the image of a text of `text_len` bytes takes on `fd`. A block
// device keeps its size: the fill stops at its end, and a text that does
// not fit is refused before anything is written.
ssize_t image_size_on(int fd, size_t text_len)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return -errno;
    if (!S_ISBLK(st.st_mode))
        return static_cast<ssize_t>(flash_image_size(text_len));
    off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0)
        return -errno;
    const size_t part = static_cast<size_t>(end);
    return text_len > part ? -ENOSPC : static_cast<ssize_t>(nor_image_end(text_len, part));
}

// Where the image differs from what the device holds. What cannot be read
// counts as different.
byte_range changed_range(int fd, std::span<const char> text, size_t size, const chunk_pair &buf)
{
    byte_range r{size, 0};
    for (size_t at = 0; at < size; at += chunk_size) {
        size_t n = std::min(chunk_size, size - at);
        std::span<char> img = buf.image(n), dev = buf.device(n);
        flash_image_bytes(text, at, img);
        ssize_t got = read_at(fd, dev, at);
        if (got < 0)
            return {std::min(r.begin, at), size};
        size_t same = static_cast<size_t>(got);
        if (same == n && std::memcmp(img.data(), dev.data(), n) == 0)
            continue;
        size_t first = 0, last = n;
        while (first < same && img[first] == dev[first])
            ++first;
        if (same == n)
            while (last > first && img[last - 1] == dev[last - 1])
                --last;
        r.begin = std::min(r.begin, at + first);
        r.end = at + last;
    }
    return r;
}

// Writes the image's bytes in [begin, end) and syncs them.
int put_image(int fd, std::span<const char> text, byte_range range, const chunk_pair &buf)
{
    for (size_t at = range.begin; at < range.end; at += chunk_size) {
        std::span<char> img = buf.image(std::min(chunk_size, range.end - at));
        flash_image_bytes(text, at, img);
        if (int rc = write_at(fd, img, at))
            return rc;
    }
    return sync_device(fd);
}

} // namespace

void flash_image_bytes(std::span<const char> text, size_t offset, std::span<char> out)
{
    size_t i = 0;
    if (offset < text.size()) {
        i = std::min(out.size(), text.size() - offset);
        std::memcpy(out.data(), text.data() + offset, i);
    }
    for (; i < out.size(); ++i)
        out[i] = flash_fill_byte(offset + i);
}

namespace {

// Through the character device; the block device's caches are dropped on
// both sides, so that nothing stale is written back over the new bytes and
// every later read sees them.
ssize_t write_through_mtd(int fd, flash_mtd &mtd, std::span<const char> text)
{
    if (int rc = flash_mtd_drop_cache(fd))
        return rc;
    int erases = 0;
    ssize_t n = nor_write_image(mtd, text, erases);
    int rc = flash_mtd_drop_cache(fd);
    return n < 0 ? n : rc < 0 ? rc : n;
}

} // namespace

ssize_t flash_write_image(int fd, std::span<const char> text)
{
    flash_mtd mtd;
    int found = flash_mtd_open(fd, mtd);
    if (found == 0)
        return write_through_mtd(fd, mtd, text);
    if (found != -ENODEV)
        return found;
    const ssize_t room = image_size_on(fd, text.size());
    if (room < 0)
        return room;
    const size_t size = static_cast<size_t>(room);
    chunk_pair buf;
    if (!buf)
        return -ENOMEM;
    byte_range diff = changed_range(fd, text, size, buf);
    if (diff.empty())
        return 0;
    size_t written = 0;
    if (diff.end > guard_size) {
        if (int rc = write_at(fd, std::span<const char>(guard_line, guard_size), 0))
            return rc;
        if (int rc = sync_device(fd))
            return rc;
        byte_range rest{std::max(diff.begin, guard_size), diff.end};
        if (int rc = put_image(fd, text, rest, buf))
            return rc;
        written += guard_size + (rest.end - rest.begin);
    }
    if (int rc = put_image(fd, text, {0, guard_size}, buf))
        return rc;
    return static_cast<ssize_t>(written + guard_size);
}

int flash_read_check(int fd)
{
    char chunk[16384];
    size_t at = 0;
    ssize_t n;
    while ((n = read_at(fd, chunk, at)) > 0)
        at += static_cast<size_t>(n);
    return n < 0 ? static_cast<int>(n) : 0;
}

void flash_cut_after(long long bytes)
{
    cut_budget = bytes;
}
