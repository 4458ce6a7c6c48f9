// What became of a save of the flash copy: every layer of the flash side
// gives it (a plan that refuses, a write that stops, the save the commands
// run), and the commands print it (commands.h: flash_report).
#pragma once

#include <cstddef>

// An offset that names no byte: nothing found, nothing to do.
inline constexpr size_t flash_none = static_cast<size_t>(-1);

enum class flash_fault : unsigned char {
    none,
    too_long,        // the text is longer than the partition
    no_read_back,    // the partition would not give the text back as it is
    no_memory,
    bad_geometry,    // an erase block size the write cannot use
    open,            // the device could not be opened for writing
    read,            // the device's error `err` at `at`
    erase,
    program,
    sync,
    not_erased,      // an erased block read back other bytes at `at`
    not_programmed,  // programmed bytes read back otherwise at `at`
};

// What the partition gives after a save that failed: the old copy; the old
// copy or the new text from its record; the new copy; the old copy, the new
// one or, without a record, the defaults.
enum class flash_left : unsigned char { old_copy, old_or_new, new_copy, unknown };
inline constexpr int flash_lefts = static_cast<int>(flash_left::unknown) + 1;

struct flash_result {
    flash_fault fault = flash_fault::none;
    int err = 0;  // errno, for the device's own errors
    size_t at = 0;
    flash_left left = flash_left::old_copy;
    // The save went on without a backup: the backup area's offset, and what
    // the area would not do (read, erase, program).
    size_t no_backup_at = flash_none;
    flash_fault no_backup_why = flash_fault::none;
    // The plan held, and the device took opening for writing or the save
    // needed none: the point from which c and d announce the copying.
    bool under_way = false;

    bool ok() const { return fault == flash_fault::none; }
};
