// Writing the flash image to NOR flash through a device `Dev` that offers
//
//   size_t size(), size_t erase_size();
//   int read(size_t at, std::span<char>);           // 0 or -errno
//   int erase(size_t at);                           // the block at `at`
//   int program(size_t at, std::span<const char>);  // clears bits only
//
// (the partition's MTD character device in the program, a model of a NOR
// chip in the tests). The steps, each of which may be cut short anywhere:
//
//   1. every run of the marker digits on the partition is programmed to
//      "0000000000" in place: from here the copy is invalid, and no partly
//      erased block can bring a marker back from a single byte;
//   2. each erase block whose bytes change is erased, when it needs a bit
//      set, and programmed, holding back the new text's marker digits;
//   3. the held-back digits, those that make the copy valid the very last.
//
// Blocks that do not change are neither erased nor programmed, and nothing
// at all is written when the partition already holds the image.
#pragma once

#include "nor_plan.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <span>
#include <sys/types.h>

// Sole owner of a heap byte buffer of a fixed size.
class nor_buffer {
    char *p_;
    size_t n_;

public:
    explicit nor_buffer(size_t n) : p_(static_cast<char *>(std::malloc(n ? n : 1))), n_(n) {}
    nor_buffer(const nor_buffer &) = delete;
    nor_buffer &operator=(const nor_buffer &) = delete;
    ~nor_buffer() { std::free(p_); }
    explicit operator bool() const { return p_ != nullptr; }
    std::span<char> all() const { return {p_, n_}; }
};

namespace nor_detail {

inline constexpr size_t marker_len = 10;

// Programs start and end on bus-word boundaries, the bytes around a change
// programmed as the device holds them: the kernel pads a partial bus word
// with 0xFF, which a chip leaves as it is but an emulated flash stores.
inline constexpr size_t word = 4;

// Programs `want` over the partition's copy `dev` at `at` where they differ
// and keeps the copy in step. Bytes that already match are not written,
// beyond the words that hold a change.
template <class Dev>
int program_diff(Dev &d, std::span<char> dev, size_t at, std::span<const char> want, ssize_t &count)
{
    size_t first = 0, last = want.size();
    while (first < last && dev[at + first] == want[first])
        ++first;
    while (last > first && dev[at + last - 1] == want[last - 1])
        --last;
    if (first == last)
        return 0;
    std::memcpy(dev.data() + at + first, want.data() + first, last - first);
    const size_t from = (at + first) / word * word;
    const size_t to = std::min(dev.size(), (at + last + word - 1) / word * word);
    if (int rc = d.program(from, dev.subspan(from, to - from)))
        return rc;
    count += static_cast<ssize_t>(to - from);
    return 0;
}

// Step 1: no marker digits left on the partition; first those that make
// the old copy valid, so that its other lines stay as they were until then.
template <class Dev> int clear_markers(Dev &d, std::span<char> dev, ssize_t &count)
{
    static constexpr char zeros[marker_len + 1] = "0000000000";
    const std::span<const char> zero(zeros, marker_len);
    if (size_t deciding = nor_deciding_marker(dev); deciding != nor_none)
        if (int rc = program_diff(d, dev, deciding, zero, count))
            return rc;
    for (size_t at = 0; (at = nor_next_marker(dev, at)) != nor_none; at += marker_len)
        if (int rc = program_diff(d, dev, at, zero, count))
            return rc;
    return 0;
}

// Holds back the new text's marker digits that lie in `want` (the block at
// `at`): they stay as the device has them.
inline void hold_markers(std::span<const char> text, std::span<const char> dev, size_t at,
                         std::span<char> want)
{
    size_t from = at > marker_len ? at - marker_len : 0;
    for (size_t m; (m = nor_next_marker(text, from)) != nor_none && m < at + want.size();
         from = m + marker_len)
        for (size_t i = std::max(m, at); i < std::min(m + marker_len, at + want.size()); ++i)
            want[i - at] = dev[i];
}

// Step 2 for the block at `at`.
template <class Dev>
int rewrite_block(Dev &d, std::span<const char> text, size_t end, std::span<char> dev, size_t at,
                  std::span<char> want, ssize_t &count, int &erases)
{
    nor_block_image(text, end, dev, at, want);
    std::span<char> have = dev.subspan(at, want.size());
    if (std::memcmp(have.data(), want.data(), want.size()) == 0)
        return 0;
    if (!nor_programmable(have, want)) {
        if (int rc = d.erase(at))
            return rc;
        std::memset(have.data(), 0xFF, have.size());
        ++erases;
    }
    hold_markers(text, dev, at, want);
    return program_diff(d, dev, at, want, count);
}

// Step 3: the held-back digits, the deciding ones last.
template <class Dev>
int put_markers(Dev &d, std::span<const char> text, std::span<char> dev, ssize_t &count)
{
    const size_t deciding = nor_deciding_marker(text);
    for (size_t m = 0; (m = nor_next_marker(text, m)) != nor_none; m += marker_len)
        if (m != deciding)
            if (int rc = program_diff(d, dev, m, text.subspan(m, marker_len), count))
                return rc;
    if (deciding == nor_none)
        return 0;
    return program_diff(d, dev, deciding, text.subspan(deciding, marker_len), count);
}

} // namespace nor_detail

// Makes the partition hold the image of `text`. The count of bytes
// programmed (0: it already held the image), or -errno; -ENOSPC, before
// anything is written, for a text longer than the partition. `erases`
// receives the count of blocks erased.
template <class Dev> ssize_t nor_write_image(Dev &d, std::span<const char> text, int &erases)
{
    using namespace nor_detail;
    erases = 0;
    const size_t part = d.size(), block = d.erase_size();
    if (text.size() > part)
        return -ENOSPC;
    if (block == 0 || part % block != 0)
        return -EINVAL;
    const size_t end = nor_image_end(text.size(), part);
    nor_buffer dev_buf(part), want_buf(block);
    if (!dev_buf || !want_buf)
        return -ENOMEM;
    std::span<char> dev = dev_buf.all(), want = want_buf.all();
    if (int rc = d.read(0, dev))
        return rc;
    bool same = true;
    for (size_t at = 0; same && at < end; at += block) {
        std::span<char> w = want.first(std::min(block, part - at));
        nor_block_image(text, end, dev, at, w);
        same = std::memcmp(dev.data() + at, w.data(), w.size()) == 0;
    }
    if (same)
        return 0;
    ssize_t count = 0;
    if (int rc = clear_markers(d, dev, count))
        return rc;
    for (size_t at = 0; at < end; at += block)
        if (int rc = rewrite_block(d, text, end, dev, at, want, count, erases))
            return rc;
    if (int rc = put_markers(d, text, dev, count))
        return rc;
    return count;
}
