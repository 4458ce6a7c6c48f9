// What a restore (i) makes of the flash partition's bytes: whether the flash
// copy is valid, and where the working configuration comes from. The one
// rule by which the restore chooses, and by which a save makes sure,
// before it writes anything, that its text will come back as it is.
//
// The copy is valid when the lookup's rules (config_line.h) find the marker
// as the value of the first SYS_CHECK line in the copy's text: in [0, B),
// or in [0, A) when the text runs on into the backup area (layout.h). A
// marker behind A never counts, nor one inside the backup area.
//
// A valid copy gives its setting lines, read up to B (or, for a text that
// reaches into the backup area, up to its fill), never behind the text. An
// invalid one was cut short while a text was being saved, or never held
// one: the newest whole record gives its text when its save never
// finished and the text is valid; otherwise the defaults.
//
// Pieces that could not be read (holes.h) cost nothing where the restore
// does not need them: the copy's text up to its fill and one fill group
// behind it (a hole right behind the text could be more of it), the
// backup area's records up to where a newer one would start. The text read
// up to a hole, it cannot be told from more text. A copy whose first
// SYS_CHECK line can be read and is not the marker is invalid all the
// same. Where a valid copy's text, or one that may be valid, cannot be read
// whole, the newest whole record stands in for it when it is valid and is
// the copy's text as far as that can be read (the copy is not written:
// that would change a block no one can read); otherwise the defaults, and
// so too for an invalid copy whose records cannot be read (neither is
// written over).
#pragma once

#include "flash/holes.h"
#include "flash/layout.h"

#include <span>

// The offset of the marker digits that make `text` valid, or flash_none.
size_t flash_deciding_marker(std::span<const char> text);

// The flash copy as the restore reads it (`dev`: the partition's bytes
// from offset 0, at least up to A), each fact found once.
struct flash_copy {
    // Where the text that decides validity ends: B while the bytes around B
    // show fill or a backup area, A when the text runs on there.
    size_t validity_end = 0;
    // Where a restore stops reading the copy's lines: B when the text ends
    // before the backup area, else the partition's end (a longer text ends
    // in the fill behind it).
    size_t lines_end = 0;
    // The end of the first SYS_CHECK line's value and the byte behind it, or
    // flash_none when the text has no such line.
    size_t marker_line_end = flash_none;
    bool valid = false;  // that line holds the marker
};
flash_copy flash_copy_of(const flash_geometry &g, std::span<const char> dev);

struct flash_reading {
    enum source { copy, backup, defaults } from = defaults;
    // copy: the bytes whose setting lines the restore takes; backup: the
    // record's text, which the restore also saves to the flash copy again
    // unless the copy could not be read.
    std::span<const char> text;
    // copy: the word to clear so that the newest record counts as finished
    // (records.h), or flash_none.
    size_t finish_at = flash_none;
    // The first offset that could not be read, or flash_none; whether that
    // left the copy's text unread.
    size_t hole = flash_none;
    bool unread = false;
};
flash_reading flash_read(const flash_geometry &g, std::span<const char> dev,
                         const flash_holes &h = {});

// Whether a partition holding `dev` gives `text` back: for a text with the
// marker, a valid copy with the same setting lines and no record left
// unfinished; for one without it, the defaults. (-ENOMEM counts as no.)
bool flash_gives_back(const flash_geometry &g, std::span<const char> dev, const flash_holes &h,
                      std::span<const char> text);
