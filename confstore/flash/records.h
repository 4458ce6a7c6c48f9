// The backup area: records of the texts saved to the flash copy, appended
// one behind the other from the area's start, each at a 4-byte boundary:
//
//   magic (4 bytes) | sequence | length | CRC32 | the text | 0xFF up to 4n
//   | completion word
//
// (numbers as 4 bytes, most significant first; the CRC32 covers the
// sequence, the length and the text). A record's header is programmed after
// its text, so a record counts only once it is whole: its magic in place and
// its CRC32 right. The completion word stays erased while the save is under
// way and is programmed (to zero) once the copy holds the text: a finished
// save's record never brings its text back. Records of older firmware have
// another magic and no completion word; they count as never finished.
// Behind the last whole record the area is erased (0xFF) while it is tidy;
// anything else there (a torn record, fill, old text) makes it untidy.
#pragma once

#include "flash/layout.h"

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr size_t flash_record_head = 16;

struct flash_backup_state {
    bool found = false;      // a whole record was found
    bool finished = false;   // the newest one's save ended
    bool legacy = false;     // the newest one is of older firmware
    size_t text_at = 0;      // the newest record's text (offset in the partition)
    size_t text_len = 0;
    uint32_t seq = 0;        // its sequence number
    size_t done_at = 0;      // its completion word (not for a legacy record)
    size_t next = 0;         // where the next record would start
    bool tidy = false;       // all erased from `next` to the area's end
    size_t examined = 0;     // the end of the bytes that decided the above, but `tidy`
};
// Reads the backup area of the partition's bytes `dev`.
flash_backup_state flash_backup_scan(const flash_geometry &g, std::span<const char> dev);

// The word whose clearing makes the newest record count as finished (its
// completion word; for older firmware's records the area's first word,
// which ends them all), or flash_none when no record is unfinished.
size_t flash_backup_unfinished(const flash_geometry &g, const flash_backup_state &s);

// What a save does in the backup area before it changes the flash copy.
struct flash_record_step {
    enum kind { none, clear_word, record, already } how = none;
    bool erase_first = false;       // the area is erased before the record goes in
    size_t at = 0, len = 0;         // the record's bytes, its completion word last
    size_t finish_at = flash_none;  // the completion word the save clears last
};

// The backup area as a save finds it: as the partition holds it, or erased
// by the save before the record goes in (the old text reached into it).
enum class flash_area : unsigned char { as_read, erased };

// What a save lets the backup area take, by what it judged of
// the partition: a record behind the last one only; a record after an erase
// of the area where one is needed (the flash copy is valid, so an erase
// loses nothing); or none (a hole lies in the area).
enum class flash_area_use : unsigned char { append, erase_if_needed, none };

// The record of `text` in the backup area of a partition holding `dev`, as
// `use` allows, or (when none can be written: the text reaches into the
// area, the record is larger than the area, the area is untidy or full
// while no erase is allowed, or no record is) the area's first word
// cleared, so that no older record comes back in place of the text;
// nothing when the newest record is this text's, unfinished. While the
// text leaves the area an area, `want` gets the area as the save leaves
// it, the record finished.
flash_record_step flash_record_plan(const flash_geometry &g, std::span<const char> dev,
                                    std::span<const char> text, flash_area area,
                                    flash_area_use use, std::span<char> want);

// Whether `area` (the bytes from B on) starts with a record's magic.
bool flash_backup_starts(std::span<const char> area);
