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

// The record of `text` as it is laid out, padding and completion word (one
// bus word, the record's last) included, in `out` (flash_record_size
// bytes), its save not yet finished.
size_t flash_record_size(size_t text_len);
void flash_record_bytes(std::span<const char> text, uint32_t seq, std::span<char> out);

// Whether the text fits a record in the backup area of `g`, and leaves the
// area free (layout.h).
bool flash_backup_fits(const flash_geometry &g, size_t text_len);

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

// Whether `area` (the bytes from B on) starts with a record's magic.
bool flash_backup_starts(std::span<const char> area);
