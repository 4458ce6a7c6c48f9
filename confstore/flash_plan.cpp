// The plan of a save: the partition as the save leaves it, judged first.
#include "flash_plan.h"

#include "flash_reading.h"
#include "flash_write.h"

#include <algorithm>
#include <cstring>

namespace {

// The old copy's marker digits, cleared for good by step 2: what the new
// image (up to `end`) leaves of the old text keeps none.
void clear_old_markers(std::span<const char> dev, size_t old_end, size_t end, std::span<char> want)
{
    const std::span<const char> old = dev.first(old_end);
    for (size_t at = 0; (at = flash_next_marker(old, at)) != flash_none; at += flash_marker_len)
        for (size_t i = std::max(at, end); i < at + flash_marker_len; ++i)
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
            const size_t end = std::min(at + g.erase, g.part);
            size_t first = end, last = at;
            bool erase = false;
            for (size_t k = at; k < end; ++k)
                if (dev[k] != want[k]) {
                    first = std::min(first, k);
                    last = k + 1;
                    erase = erase || (dev[k] & want[k]) != want[k];
                }
            if (first == end)
                continue;
            const size_t hole = erase ? h.first_in(at, end)
                                      : h.first_in(first / flash_word * flash_word,
                                                   (last + flash_word - 1) / flash_word * flash_word);
            if (hole != flash_none)
                return hole;
        }
    return flash_none;
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
        return {flash_fault::open, EINVAL, 0, flash_left::old_copy};
    if (want.resize(g.part) != 0)
        return {flash_fault::no_memory, ENOMEM, 0, flash_left::old_copy};
    const std::span<char> bytes = want.writable();
    std::memcpy(bytes.data(), dev.data(), g.part);
    p.old_end = validity_end(g, dev);
    const bool area = g.has_backup() && p.old_end == g.backup_at;
    const size_t b = g.backup_at;
    const bool readable = !g.has_backup() || h.first_in(b, g.image_end) == flash_none;
    // The copy: the text and its fill.
    bool valid = false;
    p.end = flash_lay_out(g, text, bytes, valid);
    p.area_late = g.has_backup() && !area && p.end == b;
    p.in_place = std::memcmp(dev.data(), bytes.data(), p.end) == 0 && !p.area_late;
    // The backup area.
    flash_result r;
    if (p.in_place) {
        if (area && readable &&
            (p.finish_at = flash_backup_unfinished(g, flash_backup_scan(g, dev))) != flash_none)
            std::memset(bytes.data() + p.finish_at, 0, flash_word);
    } else {
        if (area || p.area_late)
            p.area = flash_backup_plan(g, dev, text, p.area_late, p.end == b, readable, bytes,
                                       p.finish_at);
        if ((area || p.area_late) && !readable)
            r = {{}, 0, 0, flash_left::old_copy, b, flash_fault::read};
        clear_old_markers(dev, p.old_end, p.end, bytes);
    }
    // Nothing unread is erased or programmed over.
    if (size_t hole = hole_touched(g, dev, h, want.bytes()); hole != flash_none)
        return {flash_fault::read, EIO, hole, flash_left::old_copy};
    // What the restore will make of it.
    if (!flash_gives_back(g, want.bytes(), h, text, valid))
        return {flash_fault::no_read_back, 0, 0, flash_left::old_copy};
    p.writes = std::memcmp(dev.data(), bytes.data(), g.part) != 0;
    return r;
}
