// The restore's reading of a partition, and the flash copy's validity.
#include "flash/reading.h"

#include "config_line.h"
#include "flash/records.h"
#include "setting_lines.h"

#include "heap_text.h"

#include <algorithm>
#include <cstring>

namespace {

bool word_is(std::span<const char> dev, size_t at, const char (&w)[4])
{
    return std::memcmp(dev.data() + at, w, 4) == 0;
}

// The first SYS_CHECK line of `text` as the lookup reads it, and whether
// its value is the marker.
struct marker_line {
    config_value v;
    bool marker = false;
};

marker_line find_marker_line(std::span<const char> text)
{
    const config_value v = config_find(text, flash_marker_name);
    return {v, v.found && v.text.size() == flash_marker_len &&
                   std::memcmp(text.data() + v.at, flash_marker, flash_marker_len) == 0};
}

size_t validity_end(const flash_geometry &g, std::span<const char> dev)
{
    static constexpr char fill[4] = {0, 0, 0, '\xff'}, erased[4] = {'\xff', '\xff', '\xff', '\xff'},
                          cleared[4] = {0, 0, 0, 0};
    const size_t b = g.backup_at;
    if (!g.has_backup() || dev.size() < b + 4)
        return std::min(g.image_end, dev.size());
    // The text ends before B when fill (or an erased word) stands just before
    // it, or when B holds what only a backup area holds there.
    if (word_is(dev, b - 4, fill) || word_is(dev, b - 4, erased))
        return b;
    if (word_is(dev, b, erased) || word_is(dev, b, cleared) || flash_backup_starts(dev.subspan(b)))
        return b;
    return g.image_end;
}

// Where the copy's text ends before `before`: behind its last byte that is
// not fill (a hole reads as fill).
size_t text_end(std::span<const char> dev, size_t before)
{
    while (before > 0 && dev[before - 1] == flash_fill_byte(before - 1))
        --before;
    return before;
}

} // namespace

size_t flash_deciding_marker(std::span<const char> text)
{
    const marker_line m = find_marker_line(text);
    return m.marker ? m.v.at : flash_none;
}

flash_copy flash_copy_of(const flash_geometry &g, std::span<const char> dev)
{
    flash_copy c;
    c.validity_end = validity_end(g, dev);
    c.lines_end = g.has_backup() && c.validity_end == g.backup_at ? c.validity_end : dev.size();
    const marker_line m = find_marker_line(dev.first(c.validity_end));
    c.marker_line_end = m.v.found ? m.v.at + m.v.text.size() + 1 : flash_none;
    c.valid = m.marker;
    return c;
}

namespace {

// Whether the copy's readable bytes up to `needs` are those of `text` laid
// out with its fill.
bool copy_holds(std::span<const char> dev, const flash_holes &h, size_t needs,
                std::span<const char> text)
{
    const size_t upto = std::max(needs, std::min(dev.size(), text.size() + 4));
    char want[256];
    for (size_t at = 0; at < upto;) {
        const size_t hole = h.first_in(at, at + 1);
        if (hole != flash_none) {
            for (int i = 0; i < h.n; ++i)
                if (h.from[i] <= at && at < h.to[i])
                    at = h.to[i];
            continue;
        }
        const size_t n = std::min({sizeof want, upto - at, h.first_in(at, upto) - at});
        flash_image_bytes(text, at, std::span<char>(want, n));
        if (std::memcmp(dev.data() + at, want, n) != 0)
            return false;
        at += n;
    }
    return true;
}

} // namespace

flash_reading flash_read(const flash_geometry &g, std::span<const char> dev, const flash_holes &h)
{
    // What the restore needs of the copy: its text, the lines it takes, and
    // a fill group behind them.
    const flash_copy c = flash_copy_of(g, dev);
    const size_t copy_text_end = text_end(dev, c.validity_end);
    const size_t settings_end = setting_lines_end(dev.first(c.lines_end));
    const size_t needs = std::min(dev.size(), std::max(copy_text_end, settings_end) + 4);
    const flash_backup_state s = flash_backup_scan(g, dev);
    const size_t unfinished = flash_backup_unfinished(g, s);
    const std::span<const char> record = dev.subspan(s.text_at, s.found ? s.text_len : 0);
    // A hole before the point where a newer record would start leaves the
    // newest one unknown.
    const bool area_known = !g.has_backup() || h.first_in(g.backup_at, s.examined) == flash_none;
    const size_t unread = h.first_in(0, needs), hole = h.first_in(0, dev.size());
    // The copy is invalid for all that cannot be read of it when its first
    // SYS_CHECK line lies before every hole and holds another value.
    const bool known_invalid = !c.valid && c.marker_line_end != flash_none &&
                               h.first_in(0, c.marker_line_end) == flash_none;
    const bool record_valid = area_known && s.found && flash_deciding_marker(record) != flash_none;
    if (unread == flash_none || known_invalid) {
        if (c.valid)
            return {flash_reading::copy, dev.first(c.lines_end),
                    area_known ? unfinished : flash_none, hole};
        if (record_valid && !s.finished)
            return {flash_reading::backup, record, flash_none, hole};
        // An invalid copy whose records cannot be read is left as it is:
        // the record that a cut left may yet be read.
        return {flash_reading::defaults, {}, flash_none, hole, !area_known};
    }
    if (record_valid && copy_holds(dev, h, needs, record))
        return {flash_reading::backup, record, flash_none, unread, true};
    return {flash_reading::defaults, {}, flash_none, unread, true};
}

bool flash_gives_back(const flash_geometry &g, std::span<const char> dev, const flash_holes &h,
                      std::span<const char> text)
{
    const flash_reading r = flash_read(g, dev, h);
    if (flash_deciding_marker(text) == flash_none)
        return r.from == flash_reading::defaults && !r.unread;
    if (r.from != flash_reading::copy || r.finish_at != flash_none)
        return false;
    heap_text got, want;
    return append_setting_lines(r.text, line_source::flash, got) == 0 &&
           append_setting_lines(text, line_source::flash, want) == 0 &&
           got.view() == want.view();
}
