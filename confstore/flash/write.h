// Saving a text to the flash copy so that a cut at any moment (power lost,
// process killed) or a chip that does not take a write leaves what the next
// restore turns into the old text or the new one. This is the one write of
// the flash copy, on every device. Of a device `Dev` (device.h in the
// program, models in the tests) it calls these and no more, each giving 0
// or -errno:
//
//   int writable();                                 // before the first change
//   int read(size_t at, std::span<char>);           // what the chip holds now
//   int erase(size_t at);                           // the block at `at`
//   int program(size_t at, std::span<const char>);  // clears bits only
//   int sync();                                     // what was done stays
//   int done();                                     // after the last step: caches go
//
// and the device behaves as NOR flash: an erase sets a block to 0xFF, a
// program can only clear bits. The layout is layout.h's, the records are
// records.h's.
//
// The save is planned first (plan.h): the partition's bytes as it will
// leave them, read as the restore reads them (reading.h), so that a text
// that would not come back as it is, is refused before anything is
// written, and a save that changes nothing opens nothing for writing.
// Then the write makes the changes, each operation synced and read back
// before the next, in these steps:
//
//   1. the backup: a record of the new text appended to the backup area,
//      by programming only. The area is erased first when the record does
//      not fit behind the last one or a cut left it untidy, and only while
//      the copy at offset 0 is valid and ends before the area. When no
//      record can be written (the text reaches into the area, the record is
//      larger than the area, or the area cannot be erased now), the area's
//      first word is cleared instead: no older record can then come back in
//      place of the new text;
//   2. every run of the marker digits in the copy's text is programmed to
//      "0000000000" in place, the deciding one first: from here on the copy
//      is invalid, and no partly erased block can bring a marker back;
//   3. when the old text reached into the backup area and the new one ends
//      before it, the area is erased and takes the record now;
//   4. each erase block of the image whose bytes change is erased, when it
//      needs a bit set, and programmed, the new marker digits held back;
//   5. the held-back digits, those that make the copy valid the very last;
//   6. the newest record's completion word is programmed (records of older
//      firmware go: the area's first word is cleared), so that once the
//      copy holds the text no record brings a text back.
//
// Blocks that do not change are neither erased nor programmed, and the
// record of a text that is already the newest unfinished one is not written
// again. A step that fails (the device's error, or bytes that do not read
// back as the step left them) ends the save there, and the result says
// what the partition then gives (flash_left): before step 2 the old copy;
// from step 2 on the old copy or the new text from its record (without a
// record, possibly an invalid copy that the restore resets to the
// defaults); after step 5 the new copy.
#pragma once

#include "flash/layout.h"
#include "flash/plan.h"
#include "flash/reading.h"
#include "flash/records.h"
#include "flash/result.h"

#include "heap_text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

namespace flash_detail {

// The device, the partition's bytes as it holds them, and how far it got.
template <class Dev> struct writer {
    Dev &d;
    std::span<char> dev;
    std::span<char> check;  // room to read back into
    flash_result r;
    bool backed_up = false;  // the newest whole record is the new text
    bool no_backup = false;  // the area could not take the record: no record counts

    bool fail(flash_fault f, int rc, size_t at)
    {
        r.fault = f;
        r.err = -rc;
        r.at = at;
        return false;
    }
    // Reads [at, at + len) back: it must be what `dev` says.
    bool verify(size_t at, size_t len, flash_fault wrong)
    {
        for (size_t done = 0; done < len;) {
            const size_t n = std::min(check.size(), len - done);
            if (int rc = d.read(at + done, check.first(n)))
                return fail(flash_fault::read, rc, at + done);
            const auto diff = std::mismatch(check.begin(), check.begin() + n, dev.begin() + at + done);
            if (diff.first != check.begin() + n)
                return fail(wrong, 0, at + done + static_cast<size_t>(diff.first - check.begin()));
            done += n;
        }
        return true;
    }
    // Programs `want` at `at` where it differs from what the device holds.
    bool program(size_t at, std::span<const char> want)
    {
        size_t first = 0, last = want.size();
        while (first < last && dev[at + first] == want[first])
            ++first;
        while (last > first && dev[at + last - 1] == want[last - 1])
            --last;
        if (first == last)
            return true;
        std::memcpy(dev.data() + at + first, want.data() + first, last - first);
        const size_t from = (at + first) / flash_word * flash_word;
        const size_t to = std::min(dev.size(), (at + last + flash_word - 1) / flash_word * flash_word);
        if (int rc = d.program(from, dev.subspan(from, to - from)))
            return fail(flash_fault::program, rc, from);
        if (int rc = d.sync())
            return fail(flash_fault::sync, rc, from);
        return verify(from, to - from, flash_fault::not_programmed);
    }
    bool erase(size_t at, size_t len)
    {
        if (int rc = d.erase(at))
            return fail(flash_fault::erase, rc, at);
        std::memset(dev.data() + at, 0xFF, len);
        if (int rc = d.sync())
            return fail(flash_fault::sync, rc, at);
        return verify(at, len, flash_fault::not_erased);
    }
};

inline constexpr char zero_word[flash_word] = {};

// Steps 1 and 3: the record (its text first, then the header that makes it
// count; its completion word waits for step 6), or the area's first word
// cleared.
template <class Dev>
bool backup_step(writer<Dev> &w, const flash_geometry &g, const flash_record_step &a,
                 std::span<const char> want)
{
    if (a.how == flash_record_step::clear_word)
        return w.program(g.backup_at, zero_word);
    if (a.how == flash_record_step::record) {
        if (a.erase_first && !w.erase(g.backup_at, g.image_end - g.backup_at))
            return false;
        const std::span<const char> rec = want.subspan(a.at, a.len);
        if (!w.program(a.at + flash_record_head,
                       rec.subspan(flash_record_head, a.len - flash_record_head - flash_word)) ||
            !w.program(a.at, rec.first(flash_record_head)))
            return false;
    }
    w.backed_up = a.how == flash_record_step::record || a.how == flash_record_step::already;
    return true;
}

// Steps 1 and 3 on an area that may be worn (step 3 erases it first):
// when it does not take its part, the save goes on without a backup, as
// for a text too long for the area. What the area holds is then known only
// by reading it again: once its first word is no record's magic (cleared,
// or whatever a failed erase left there), no record in it can come back in
// place of the new text. Where even that cannot be had, the save stops.
template <class Dev>
bool backup_or_clear(writer<Dev> &w, const flash_geometry &g, const flash_record_step &a,
                     std::span<const char> want, flash_area area)
{
    if ((area == flash_area::as_read || w.erase(g.backup_at, g.image_end - g.backup_at)) &&
        backup_step(w, g, a, want))
        return true;
    const flash_result failed = w.r;
    const std::span<char> first = w.dev.subspan(g.backup_at, flash_word);
    if (int rc = w.d.read(g.backup_at, first))
        return w.fail(flash_fault::read, rc, g.backup_at);
    w.program(g.backup_at, zero_word);
    if (int rc = w.d.read(g.backup_at, first))
        return w.fail(flash_fault::read, rc, g.backup_at);
    w.r = failed;
    if (flash_backup_starts(w.dev.subspan(g.backup_at)))
        return false;
    w.r.fault = flash_fault::none;
    w.backed_up = false;
    w.no_backup = true;
    w.r.no_backup_at = g.backup_at;
    w.r.no_backup_why = failed.fault;
    return true;
}

// Step 2, over the old copy's text as it stands, up to where it decides
// validity.
template <class Dev> bool clear_markers(writer<Dev> &w, size_t validity_end)
{
    static constexpr char zeros[flash_marker_len + 1] = "0000000000";
    const std::span<const char> zero(zeros, flash_marker_len), old = w.dev.first(validity_end);
    if (size_t deciding = flash_deciding_marker(old); deciding != flash_none)
        if (!w.program(deciding, zero))
            return false;
    for (size_t at = 0; (at = flash_next_marker(old, at)) != flash_none; at += flash_marker_len)
        if (!w.program(at, zero))
            return false;
    return true;
}

// Step 4 for the block at `at`: it becomes `want`'s, erased first when that
// needs a bit set, the new marker digits (in `image`, the new copy) still as
// the device has them.
template <class Dev>
bool rewrite_block(writer<Dev> &w, std::span<const char> want, std::span<const char> image,
                   size_t at, std::span<char> block)
{
    std::memcpy(block.data(), want.data() + at, block.size());
    const std::span<const char> have = w.dev.subspan(at, block.size());
    if (std::memcmp(have.data(), block.data(), block.size()) == 0)
        return true;
    for (size_t i = 0; i < block.size(); ++i)
        if ((have[i] & block[i]) != block[i]) {
            if (!w.erase(at, block.size()))
                return false;
            break;
        }
    const size_t from = at > flash_marker_len ? at - flash_marker_len : 0;
    for (size_t m = from; (m = flash_next_marker(image, m)) != flash_none && m < at + block.size();
         m += flash_marker_len)
        for (size_t i = std::max(m, at); i < std::min(m + flash_marker_len, at + block.size()); ++i)
            block[i - at] = w.dev[i];
    return w.program(at, block);
}

// Step 5: the held-back digits, the deciding ones last.
template <class Dev> bool put_markers(writer<Dev> &w, std::span<const char> image)
{
    const size_t deciding = flash_deciding_marker(image);
    for (size_t m = 0; (m = flash_next_marker(image, m)) != flash_none; m += flash_marker_len)
        if (m != deciding && !w.program(m, image.subspan(m, flash_marker_len)))
            return false;
    return deciding == flash_none || w.program(deciding, image.subspan(deciding, flash_marker_len));
}

// Every step, on the device that `w` writes, from what it holds to `want`.
template <class Dev>
bool write_steps(writer<Dev> &w, const flash_geometry &g, const flash_plan &p,
                 std::span<const char> want, std::span<char> block)
{
    if (!p.in_place) {
        if (!p.area_late && !backup_or_clear(w, g, p.backup, want, flash_area::as_read))
            return false;
        w.r.left = w.backed_up ? flash_left::old_or_new : flash_left::unknown;
        if (!clear_markers(w, p.old_validity_end))
            return false;
        if (p.area_late && !backup_or_clear(w, g, p.backup, want, flash_area::erased))
            return false;
        w.r.left = w.backed_up ? flash_left::old_or_new : flash_left::unknown;
        const std::span<const char> image = want.first(p.fill_end);
        for (size_t at = 0; at < p.fill_end; at += g.erase)
            if (!rewrite_block(w, want, image, at, block.first(std::min(g.erase, g.part - at))))
                return false;
        if (!put_markers(w, image))
            return false;
    }
    w.r.left = flash_left::new_copy;
    return p.finish_at == flash_none || w.no_backup || w.program(p.finish_at, zero_word);
}

} // namespace flash_detail

// A planned save (flash_plan_save) carried out on the device `d`: opened
// for writing when the plan changes anything, the steps, and the device's
// caches dropped behind them. `dev` holds the partition's bytes as read and
// follows what is written, `want` the plan's. A partition that refuses
// writing costs nothing when all the plan would write is the completion
// word: the flash copy holds the text, and a later restore that can write
// finishes the record.
template <class Dev>
flash_result flash_write(Dev &d, const flash_geometry &g, std::span<char> dev,
                         std::span<const char> want, const flash_plan &p)
{
    const int open_rc = p.writes ? d.writable() : 0;
    if (open_rc != 0 && (open_rc != -EROFS || !p.in_place))
        return {flash_fault::open, -open_rc, 0, flash_left::old_copy};
    flash_result r;
    r.under_way = true;
    if (!p.writes || open_rc != 0)
        return r;
    heap_text block, check;
    if (block.resize(g.erase) != 0 || check.resize(g.erase) != 0) {
        r.fault = flash_fault::no_memory;
        r.err = ENOMEM;
    } else {
        flash_detail::writer<Dev> w{d, dev, check.writable(), r};
        flash_detail::write_steps(w, g, p, want, block.writable());
        r = w.r;
    }
    if (int rc = d.done(); rc != 0 && r.ok()) {
        r.fault = flash_fault::sync;
        r.err = -rc;
        r.at = 0;
        r.left = flash_left::new_copy;
    }
    return r;
}
