// The one save of a text to the flash copy that every command runs (c, d,
// the reset of i and its repair after a cut), and beside it the restore's
// finish of a record whose save a cut ended. Both over the write's device
// (write.h): the program's flash_device, or models in the tests.
#pragma once

#include "flash/device.h"
#include "flash/holes.h"
#include "flash/layout.h"
#include "flash/plan.h"
#include "flash/result.h"
#include "flash/write.h"

#include "heap_text.h"

#include <span>
#include <string_view>

// The save of `text` on the partition of `d`, holding `dev` (its bytes as
// read, following what is written) less the holes `h` (flash_read_all):
// the text's last line ended, the plan (a refusal writes nothing), then
// the write.
template <class Dev>
flash_result flash_save(Dev &d, const flash_geometry &g, std::span<char> dev, const flash_holes &h,
                        heap_text &text)
{
    // A last line without its newline would run into the fill, and a last
    // byte 0xFF could not be told from the fill's: every text ends a line.
    if (!text.ends_line() && text.append(std::string_view("\n")) != 0)
        return {flash_fault::no_memory, ENOMEM, 0, flash_left::old_copy};
    heap_text want;
    flash_plan p;
    const flash_result planned = flash_plan_save(g, dev, h, text.bytes(), want, p);
    if (!planned.ok())
        return planned;
    flash_result r = flash_write(d, g, dev, want.bytes(), p);
    if (r.no_backup_at == flash_none && p.writes) {
        r.no_backup_at = planned.no_backup_at;
        r.no_backup_why = planned.no_backup_why;
    }
    return r;
}

// Step 6 of the write alone, for a restore that finds the flash copy valid
// while the newest record is unfinished (a save that a cut interrupted
// before it changed the copy): the device is opened for writing only then.
// `finish_at` is the reading's (reading.h).
template <class Dev>
flash_result flash_finish(Dev &d, const flash_geometry &g, std::span<char> dev, size_t finish_at)
{
    flash_plan p;
    p.in_place = true;
    p.finish_at = finish_at;
    p.writes = p.finish_at != flash_none;
    flash_result r = flash_write(d, g, dev, dev, p);
    if (r.left == flash_left::new_copy)
        r.left = flash_left::old_copy;  // the copy was never touched
    return r;
}

// The flash partition as one command uses it: opened once, for reading,
// and read whole once; written, when a save changes something, through
// the same device.
struct flash_partition {
    flash_device dev;
    flash_geometry g;
    heap_text bytes;      // holes standing as fill
    flash_holes holes;
    bool opened = false;  // the device opened; a failure was in reading it

    // 0, or -errno.
    int open(const char *path);
    // flash_save and flash_finish on this partition, made here once for
    // every command.
    flash_result save(heap_text &text);
    flash_result finish(size_t finish_at);
};
