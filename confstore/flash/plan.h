// What a save of a text will make of the flash partition, worked out before
// anything is written: the partition's bytes as the save leaves them, and
// the changes the write (write.h) makes to get there, in its order.
//
// The bytes are judged as the restore reads them (reading.h): a text that
// would not come back as it is, is refused, and a partition that already
// holds the result is not written at all.
#pragma once

#include "flash/holes.h"
#include "flash/layout.h"
#include "flash/records.h"
#include "flash/result.h"

#include "heap_text.h"

#include <span>

struct flash_plan {
    bool writes = false;     // the partition does not hold the result yet
    bool in_place = false;   // the flash copy holds the image already: only step 6
    size_t old_validity_end = 0;  // the old copy's text: its markers go first (step 2)
    size_t fill_end = 0;     // the new image's end: blocks before it are rewritten (step 4)
    bool area_late = false;  // the old text reached into the backup area, the new one
                             // ends before it: the area is erased and takes the
                             // record once the old copy is invalid (step 3)
    flash_record_step backup;       // the backup area's part (steps 1 or 3)
    size_t finish_at = flash_none;  // the completion word cleared last (step 6)
};

// Plans the save of `text` onto a partition of geometry `g` holding `dev`,
// less the holes `h`: `want` gets the partition's bytes as the save leaves
// them. A backup area with a hole takes no record (the result says the
// save has no backup). Ok, or a refusal (too_long, bad_geometry,
// no_read_back, no_memory, or `read` at a hole in a block the save must
// erase, or in bytes it must program) before anything is written.
flash_result flash_plan_save(const flash_geometry &g, std::span<const char> dev,
                             const flash_holes &h, std::span<const char> text, heap_text &want,
                             flash_plan &p);
