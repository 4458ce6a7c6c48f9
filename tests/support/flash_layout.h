// The flash copy's layout as the tests state it, apart from the code under
// test: the text from offset 0, then fill groups 00 00 00 FF up to the
// backup area at 192 KiB (256 KiB before there was one); the backup area's
// records: magic 9E 0C 43 71, sequence, length, CRC32 (4 bytes each, most
// significant first), the text, 0xFF up to a multiple of 4, then the
// completion word (FF FF FF FF until the save ended, then 00 00 00 00);
// older firmware's: magic 9E 0C 42 71 and no completion word.
#pragma once

#include <cstdint>
#include <string>

inline constexpr size_t backup_at = 196608;

// The text, then fill up to `end`.
std::string laid_out(const std::string &text, size_t end = 262144);
// The same, then an erased backup area up to 256 KiB.
std::string laid_out_erased_backup(const std::string &text);
// One backup record, of a save that ended or one still under way.
std::string backup_record(const std::string &text, uint32_t seq, bool finished);
// One record as older firmware wrote it.
std::string legacy_record(const std::string &text, uint32_t seq);
// The text of the newest whole record in a partition's bytes, or "<none>"
// (" (finished)" follows the text of a finished one).
std::string newest_backup(const std::string &partition);
// The defaults file the device sandbox installs.
std::string shipped_defaults();
