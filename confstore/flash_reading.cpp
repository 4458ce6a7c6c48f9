// The restore's reading of a partition.
#include "flash_reading.h"

#include "flash_backup.h"
#include "setting_lines.h"

#include "heap_text.h"

flash_reading flash_read(const flash_geometry &g, std::span<const char> dev)
{
    const flash_backup_state s = flash_backup_scan(g, dev);
    if (flash_copy_valid(g, dev))
        return {flash_reading::copy, dev.first(flash_lines_end(g, dev)),
                flash_backup_unfinished(g, s)};
    const std::span<const char> record = dev.subspan(s.text_at, s.found ? s.text_len : 0);
    if (s.found && !s.finished && flash_deciding_marker(record) != flash_none)
        return {flash_reading::backup, record, flash_none};
    return {};
}

bool flash_gives_back(const flash_geometry &g, std::span<const char> dev,
                      std::span<const char> text, bool valid)
{
    const flash_reading r = flash_read(g, dev);
    if (!valid)
        return r.from == flash_reading::defaults;
    if (r.from != flash_reading::copy || r.finish_at != flash_none)
        return false;
    heap_text got, want;
    return copy_setting_lines(r.text, line_source::flash, got) == 0 &&
           copy_setting_lines(text, line_source::flash, want) == 0 &&
           got.view() == want.view();
}
