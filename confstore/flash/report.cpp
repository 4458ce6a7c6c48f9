// The lines that the flash commands print of what became of them.
#include "flash/commands.h"
#include "messages.h"

#include "format.h"
#include "std_streams.h"

#include <cstring>

static_assert(sizeof flash_tails / sizeof *flash_tails == flash_lefts,
              "a line for each flash_left");

const char *flash_tail(flash_left left)
{
    return flash_tails[static_cast<int>(left)];
}

void flash_tell(const char *action, const char *path, int err, const char *tail)
{
    (void)std_out().flush();
    put_format(std_err(), msg_flash_failed_fmt, action, path, std::strerror(err), tail);
}

namespace {

// What a backup area would not do, by the fault of its step.
const char *no_backup_why(flash_fault f)
{
    switch (f) {
    case flash_fault::read: return "read";
    case flash_fault::erase:
    case flash_fault::not_erased: return "erased";
    default: return "programmed";
    }
}

// What failed, in words, into `why`.
void fault_text(const flash_result &r, std::span<char> why)
{
    const char *op = "reading";
    switch (r.fault) {
    case flash_fault::no_read_back: format_into(why, "%s", msg_flash_no_read_back); return;
    case flash_fault::not_erased: format_into(why, msg_flash_not_erased_fmt, r.at); return;
    case flash_fault::not_programmed: format_into(why, msg_flash_not_programmed_fmt, r.at); return;
    case flash_fault::read: break;
    case flash_fault::erase: op = "erasing"; break;
    case flash_fault::program: op = "programming"; break;
    case flash_fault::sync: op = "syncing"; break;
    case flash_fault::none:
    case flash_fault::too_long:
    case flash_fault::no_memory:
    case flash_fault::bad_geometry:
    case flash_fault::open:  // the system's reason
        format_into(why, "%s", std::strerror(r.err));
        return;
    }
    format_into(why, msg_flash_op_fmt, op, r.at, std::strerror(r.err));
}

} // namespace

void flash_report(const char *device, const flash_result &r)
{
    if (r.no_backup_at != flash_none) {
        (void)std_out().flush();
        put_format(std_err(), msg_flash_no_backup_fmt, device, r.no_backup_at,
                   no_backup_why(r.no_backup_why));
    }
    if (r.ok())
        return;
    char why[192];
    fault_text(r, why);
    (void)std_out().flush();
    put_format(std_err(), msg_flash_write_fmt, device, why, flash_tail(r.left));
}
