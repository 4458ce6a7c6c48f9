// The plan of a save: the partition as the save leaves it, judged first.
#include "flash/plan.h"

#include "flash/reading.h"
#include "flash/records.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The old copy's marker digits, cleared for good by step 2: what the new
// image (up to `fill_end`) leaves of the old text keeps none.
void clear_old_markers(std::span<const char> dev, size_t old_validity_end, size_t fill_end,
                       std::span<char> want)
{
    const std::span<const char> old = dev.first(old_validity_end);
    for (size_t at = 0; (at = flash_next_marker(old, at)) != flash_none; at += flash_marker_len)
        for (size_t i = std::max(at, fill_end); i < at + flash_marker_len; ++i)
            want[i] = '0';
}

// The first hole that the change from `dev` to `want` touches: in a block
// that must be erased (a bit set anywhere in it), or in the bytes that its
// program covers (from the first change to the last, in whole bus words).
size_t hole_touched(const flash_geometry &g, std::span<const char> dev, const flash_holes &h,
                    std::span<const char> want)
{
    for (int i = 0; i < h.n; ++i)
        for (size_t at = h.from[i] / g.erase * g.erase; at < h.to[i]; at += g.erase) {
            const size_t block_end = std::min(at + g.erase, g.part);
            size_t first = block_end, last = at;
            bool erase = false;
            for (size_t k = at; k < block_end; ++k)
                if (dev[k] != want[k]) {
                    first = std::min(first, k);
                    last = k + 1;
                    erase = erase || (dev[k] & want[k]) != want[k];
                }
            if (first == block_end)
                continue;
            const size_t hole = erase ? h.first_in(at, block_end)
                                      : h.first_in(first / flash_word * flash_word,
                                                   (last + flash_word - 1) / flash_word * flash_word);
            if (hole != flash_none)
                return hole;
        }
    return flash_none;
}

// Where the record of `text` goes in the backup area as it stands (`s`).
flash_record_step record_step(const flash_geometry &g, std::span<const char> dev,
                              std::span<const char> text, const flash_backup_state &s)
{
    const size_t size = flash_record_size(text.size());
    // A finished record of the same text gets a new one: the save under
    // way must be able to come back.
    if (s.found && !s.finished && s.text_len == text.size() &&
        std::memcmp(dev.data() + s.text_at, text.data(), text.size()) == 0)
        return {flash_record_step::already};
    if (!flash_backup_fits(g, text.size()))
        return {flash_record_step::clear_word};
    if (s.tidy && s.next + size <= g.image_end)
        return {flash_record_step::record, false, s.next, size};
    // Erasing the area is safe only while the flash copy itself is valid.
    if (flash_copy_valid(g, dev))
        return {flash_record_step::record, true, g.backup_at, size};
    return {flash_record_step::clear_word};
}

// The record of `text` in the backup area of a partition holding `dev`, or
// (when none can be written: the text reaches into the area, the record is
// larger than the area, the area is untidy while the copy is invalid, or a
// hole in `h` lies in the area) the area's first word cleared, so that no
// older record comes back in place of the text; nothing when the newest
// record is this text's, unfinished. While the text leaves the area an
// area, `want` gets the area as the save leaves it, the record finished.
flash_record_step flash_backup_plan(const flash_geometry &g, std::span<const char> dev,
                                    const flash_holes &h, std::span<const char> text,
                                    flash_area area, std::span<char> want)
{
    flash_backup_state s;
    if (area == flash_area::erased)
        s = {false, false, false, 0, 0, 0, 0, g.backup_at, true};
    else
        s = flash_backup_scan(g, dev);
    const bool readable = h.first_in(g.backup_at, g.image_end) == flash_none;
    flash_record_step step = readable ? record_step(g, dev, text, s)
                                      : flash_record_step{flash_record_step::clear_word};
    // A text that reaches into the area leaves no area to lay out.
    if (text.size() > g.backup_at)
        return step;
    if (area == flash_area::erased || step.erase_first)
        std::memset(want.data() + g.backup_at, 0xFF, g.image_end - g.backup_at);
    if (step.how == flash_record_step::clear_word)
        std::memset(want.data() + g.backup_at, 0, flash_word);
    if (step.how == flash_record_step::already)
        step.finish_at = flash_backup_unfinished(g, s);
    if (step.how == flash_record_step::record) {
        flash_record_bytes(text, s.found ? s.seq + 1 : 1, want.subspan(step.at, step.len));
        step.finish_at = step.at + step.len - flash_word;
    }
    if (step.finish_at != flash_none)
        std::memset(want.data() + step.finish_at, 0, flash_word);
    return step;
}

} // namespace

flash_result flash_plan_save(const flash_geometry &g, std::span<const char> dev,
                             const flash_holes &h, std::span<const char> text, heap_text &want,
                             flash_plan &p)
{
    p = {};
    if (text.size() > g.part)
        return {flash_fault::too_long, ENOSPC, 0, flash_left::old_copy};
    if (g.erase == 0 || g.erase % flash_word != 0 || dev.size() != g.part)
        return {flash_fault::bad_geometry, EINVAL, 0, flash_left::old_copy};
    if (want.resize(g.part) != 0)
        return {flash_fault::no_memory, ENOMEM, 0, flash_left::old_copy};
    const std::span<char> bytes = want.writable();
    std::memcpy(bytes.data(), dev.data(), g.part);
    const size_t b = g.backup_at;
    p.old_validity_end = validity_end(g, dev);
    // The old text left the backup area an area.
    const bool had_area = g.has_backup() && p.old_validity_end == b;
    const bool readable = !g.has_backup() || h.first_in(b, g.image_end) == flash_none;
    // The flash copy: the text and its fill.
    p.fill_end = flash_lay_out(g, text, bytes);
    p.area_late = g.has_backup() && !had_area && p.fill_end == b;
    p.in_place = std::memcmp(dev.data(), bytes.data(), p.fill_end) == 0 && !p.area_late;
    // The backup area.
    flash_result r;
    if (p.in_place) {
        if (had_area && readable &&
            (p.finish_at = flash_backup_unfinished(g, flash_backup_scan(g, dev))) != flash_none)
            std::memset(bytes.data() + p.finish_at, 0, flash_word);
    } else {
        if (had_area || p.area_late) {
            p.backup = flash_backup_plan(g, dev, h, text,
                                         p.area_late ? flash_area::erased : flash_area::as_read, bytes);
            p.finish_at = p.backup.finish_at;
            if (!readable)
                r = {{}, 0, 0, flash_left::old_copy, b, flash_fault::read};
        }
        clear_old_markers(dev, p.old_validity_end, p.fill_end, bytes);
    }
    // Nothing unread is erased or programmed over.
    if (size_t hole = hole_touched(g, dev, h, want.bytes()); hole != flash_none)
        return {flash_fault::read, EIO, hole, flash_left::old_copy};
    // What the restore will make of it.
    if (!flash_gives_back(g, want.bytes(), h, text))
        return {flash_fault::no_read_back, 0, 0, flash_left::old_copy};
    p.writes = std::memcmp(dev.data(), bytes.data(), g.part) != 0;
    return r;
}
