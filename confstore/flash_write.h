// Saving a text to the flash copy so that a cut at any moment (power lost,
// process killed) leaves what the next restore turns into the old text or
// the new one. This is the one write of the flash copy, on every device: a
// device `Dev` (flash_adapter.h in the program, models in the tests) offers
//
//   size_t size(), erase_size();
//   int read(size_t at, std::span<char>);           // 0 or -errno
//   int erase(size_t at);                           // the block at `at`
//   int program(size_t at, std::span<const char>);  // clears bits only
//   int sync();                                     // what was done stays
//
// and behaves as NOR flash: an erase sets a block to 0xFF, a program can
// only clear bits. The layout is flash_image.h's. Each operation is synced
// before the next, in these steps:
//
//   1. the backup: a record of the new text appended to the backup area
//      (flash_backup.h), by programming only. The area is erased first when
//      the record does not fit behind the last one or a cut left it untidy,
//      and only while the copy at offset 0 is valid and ends before the
//      area. When no record can be written (the text reaches into the
//      area, the record is larger than the area, or the area cannot be
//      erased now), the area's first word is cleared instead: no older
//      record can then come back in place of the new text;
//   2. every run of the marker digits in the copy's text is programmed to
//      "0000000000" in place, the deciding one first: from here on the copy
//      is invalid, and no partly erased block can bring a marker back;
//   3. each erase block of the image whose bytes change is erased, when it
//      needs a bit set, and programmed, the new marker digits held back;
//   4. the held-back digits, those that make the copy valid the very last.
//
// So the copy is the old valid one, an invalid one while the newest whole
// record is the new text, or the new one (without a record, an invalid copy
// gives the defaults). A restore that finds the copy
// invalid takes the newest whole record when it holds a valid text, and
// rewrites the copy from it by this same write. Blocks that do not change
// are neither erased nor programmed, the record of a text that is already
// the newest is not written again, and nothing at all is written when the
// partition already holds the image of a valid text (of a text without the
// marker, at most its record, so that no older record can come back).
#pragma once

#include "flash_backup.h"
#include "flash_image.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <span>
#include <sys/types.h>

// Sole owner of a heap byte buffer of a fixed size.
class flash_buffer {
    char *p_;
    size_t n_;

public:
    explicit flash_buffer(size_t n) : p_(static_cast<char *>(std::malloc(n ? n : 1))), n_(n) {}
    flash_buffer(const flash_buffer &) = delete;
    flash_buffer &operator=(const flash_buffer &) = delete;
    ~flash_buffer() { std::free(p_); }
    explicit operator bool() const { return p_ != nullptr; }
    std::span<char> all() const { return {p_, n_}; }
};

// What a save did: bytes programmed, blocks erased.
struct flash_save_count {
    size_t programmed = 0;
    int erases = 0;
};

namespace flash_detail {

// Programs start and end on bus-word boundaries, the bytes around a change
// programmed as the device holds them: the kernel pads a partial bus word
// with 0xFF, which a chip leaves as it is but an emulated flash stores.
inline constexpr size_t word = 4;

// The device, the partition's bytes as it holds them, and what was done.
template <class Dev> struct writer {
    Dev &d;
    std::span<char> dev;
    flash_save_count &count;

    // Programs `want` at `at` where it differs from what the device holds.
    int program(size_t at, std::span<const char> want)
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
        count.programmed += to - from;
        return d.sync();
    }
    int erase(size_t at, size_t len)
    {
        if (int rc = d.erase(at))
            return rc;
        std::memset(dev.data() + at, 0xFF, len);
        ++count.erases;
        return d.sync();
    }
};

bool programmable(std::span<const char> have, std::span<const char> want);

// The final bytes of the block at `at` (want.size() bytes): the image up to
// `end`, what the device holds (`dev`) behind it.
void block_image(std::span<const char> text, size_t end, std::span<const char> dev, size_t at,
                 std::span<char> want);

// Holds back the new text's marker digits that lie in `want` (the block at
// `at`): they stay as the device has them.
void hold_markers(std::span<const char> text, std::span<const char> dev, size_t at,
                  std::span<char> want);

// What step 1 does with the record of `text`, and where it goes.
struct record_plan {
    enum { clear_area, already_newest, append, erase_then_append } how;
    size_t at;
    uint32_t seq;  // the record's sequence number: one above the newest's
};
record_plan plan_record(const flash_geometry &g, std::span<const char> dev,
                        std::span<const char> text);

// Step 1.
template <class Dev>
int store_backup(writer<Dev> &w, const flash_geometry &g, std::span<const char> text)
{
    if (!g.backup || flash_text_end(g, w.dev) != g.backup)
        return 0;  // the area holds text: no record there to bring back
    const record_plan plan = plan_record(g, w.dev, text);
    if (plan.how == record_plan::clear_area) {
        static constexpr char zero[word] = {};
        return w.program(g.backup, zero);
    }
    if (plan.how == record_plan::already_newest)
        return 0;
    if (plan.how == record_plan::erase_then_append)
        if (int rc = w.erase(g.backup, g.area - g.backup))
            return rc;
    const size_t at = plan.at;
    flash_buffer rec(flash_record_size(text.size()));
    if (!rec)
        return -ENOMEM;
    flash_record_bytes(text, plan.seq, rec.all());
    // The text first, then the header that makes the record count.
    if (int rc = w.program(at + flash_record_head, rec.all().subspan(flash_record_head)))
        return rc;
    return w.program(at, rec.all().first(flash_record_head));
}

// Step 2, over the copy's text as it stands.
template <class Dev> int clear_markers(writer<Dev> &w, size_t text_end)
{
    static constexpr char zeros[flash_marker_len + 1] = "0000000000";
    const std::span<const char> zero(zeros, flash_marker_len), old = w.dev.first(text_end);
    if (size_t deciding = flash_deciding_marker(old); deciding != flash_none)
        if (int rc = w.program(deciding, zero))
            return rc;
    for (size_t at = 0; (at = flash_next_marker(old, at)) != flash_none; at += flash_marker_len)
        if (int rc = w.program(at, zero))
            return rc;
    return 0;
}

// Step 3 for the block at `at`.
template <class Dev>
int rewrite_block(writer<Dev> &w, std::span<const char> text, size_t end, size_t at,
                  std::span<char> want)
{
    block_image(text, end, w.dev, at, want);
    std::span<char> have = w.dev.subspan(at, want.size());
    if (std::memcmp(have.data(), want.data(), want.size()) == 0)
        return 0;
    if (!programmable(have, want))
        if (int rc = w.erase(at, want.size()))
            return rc;
    hold_markers(text, w.dev, at, want);
    return w.program(at, want);
}

// Step 4: the held-back digits, the deciding ones last.
template <class Dev> int put_markers(writer<Dev> &w, std::span<const char> text)
{
    const size_t deciding = flash_deciding_marker(text);
    for (size_t m = 0; (m = flash_next_marker(text, m)) != flash_none; m += flash_marker_len)
        if (m != deciding)
            if (int rc = w.program(m, text.subspan(m, flash_marker_len)))
                return rc;
    if (deciding == flash_none)
        return 0;
    return w.program(deciding, text.subspan(deciding, flash_marker_len));
}

// Whether the partition holds the image of `text` up to `end`.
bool holds_image(std::span<const char> dev, std::span<const char> text, size_t end,
                 std::span<char> want);

} // namespace flash_detail

// Makes the partition hold the image of `text`. 0 or -errno; -ENOSPC,
// before anything is written, for a text longer than the partition.
// `count` receives what was written.
template <class Dev> int flash_save(Dev &d, std::span<const char> text, flash_save_count &count)
{
    using namespace flash_detail;
    count = {};
    const size_t part = d.size(), block = d.erase_size();
    if (text.size() > part)
        return -ENOSPC;
    if (block == 0 || block % word != 0)
        return -EINVAL;
    const flash_geometry g = flash_geometry_of(part, block);
    const size_t end = flash_image_end(g, text.size());
    flash_buffer dev_buf(part), want_buf(block);
    if (!dev_buf || !want_buf)
        return -ENOMEM;
    writer<Dev> w{d, dev_buf.all(), count};
    const std::span<char> want = want_buf.all();
    if (int rc = d.read(0, w.dev))
        return rc;
    const size_t text_end = flash_text_end(g, w.dev);
    if (holds_image(w.dev, text, end, want)) {
        // An invalid copy must not let an older record come back.
        if (flash_deciding_marker(text) != flash_none)
            return 0;
        return store_backup(w, g, text);
    }
    if (int rc = store_backup(w, g, text))
        return rc;
    if (int rc = clear_markers(w, text_end))
        return rc;
    for (size_t at = 0; at < end; at += block)
        if (int rc = rewrite_block(w, text, end, at, want.first(std::min(block, part - at))))
            return rc;
    return put_markers(w, text);
}
