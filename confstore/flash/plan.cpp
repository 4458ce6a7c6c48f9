// The plan of a save: the partition as the save leaves it, judged first.
#include "flash/plan.h"

#include "flash/reading.h"

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
    // The flash copy: the text and its fill.
    p.fill_end = flash_lay_out(g, text, bytes);
    const size_t b = g.backup_at;
    const bool readable = !g.has_backup() || h.first_in(b, g.image_end) == flash_none;
    // The old copy as the restore reads it: whether its text left the
    // backup area an area.
    const flash_copy old = flash_copy_of(g, dev);
    p.old_validity_end = old.validity_end;
    const bool had_area = g.has_backup() && p.old_validity_end == b;
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
            // Erasing the area is safe only while the old copy is valid; a
            // hole in the area takes no record.
            const flash_area_use use = !readable  ? flash_area_use::none
                                       : old.valid ? flash_area_use::erase_if_needed
                                                   : flash_area_use::append;
            const flash_area area = p.area_late ? flash_area::erased : flash_area::as_read;
            p.backup = flash_record_plan(g, dev, text, area, use, bytes);
            p.finish_at = p.backup.finish_at;
            if (!readable)
                r = {{}, 0, 0, flash_left::old_copy, b, flash_fault::read};
        }
        clear_old_markers(dev, p.old_validity_end, p.fill_end, bytes);
    }
    // Nothing unread is erased or programmed over.
    if (size_t hole = h.first_touched(g, dev, want.bytes()); hole != flash_none)
        return {flash_fault::read, EIO, hole, flash_left::old_copy};
    // What the restore will make of it.
    if (!flash_gives_back(g, want.bytes(), h, text))
        return {flash_fault::no_read_back, 0, 0, flash_left::old_copy};
    p.writes = std::memcmp(dev.data(), bytes.data(), g.part) != 0;
    return r;
}
