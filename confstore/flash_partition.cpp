// The flash partition as the commands use it, and the one line that tells
// what became of a save.
#include "flash.h"
#include "flash_write.h"
#include "messages.h"

#include <cstring>

int flash_partition::open(const char *path)
{
    if (int rc = dev.open(path)) {
        opened = dev.is_open();
        return rc;
    }
    opened = true;
    g = flash_geometry_of(dev.size(), dev.erase_size());
    if (bytes.resize(dev.size()) != 0)
        return -ENOMEM;
    return flash_read_all(dev, bytes.writable(), holes);
}

flash_result flash_partition::save(heap_text &text, const char *announce)
{
    return flash_save(dev, g, bytes.writable(), holes, text, announce);
}

flash_result flash_partition::finish(size_t finish_at)
{
    return flash_finish(dev, g, bytes.writable(), finish_at);
}

void flash_report(const char *action, const char *path, int err, bool kept)
{
    (void)std_out().flush();
    if (kept)
        put_format(std_err(), msg_flash_kept_fmt, action, path, std::strerror(err));
    else
        put_format(std_err(), msg_flash_failed_fmt, action, path, std::strerror(err));
}

namespace {

// The line of a save that went on without a backup.
void report_no_backup(const char *device, const flash_result &r)
{
    if (r.no_backup_at == flash_none)
        return;
    // What the area would not do: be read, erased or programmed.
    const flash_fault f = r.no_backup_why;
    const int why = f == flash_fault::read                                   ? 0
                    : f == flash_fault::erase || f == flash_fault::not_erased ? 1
                                                                              : 2;
    (void)std_out().flush();
    put_format(std_err(), msg_flash_no_backup_fmt, device, r.no_backup_at, flash_no_backup_whys[why]);
}

} // namespace

void flash_report(const char *device, const flash_result &r)
{
    static constexpr const char *ops[] = {"reading", "erasing", "programming", "syncing"};
    char why[192];
    report_no_backup(device, r);
    switch (r.fault) {
    case flash_fault::none: return;
    case flash_fault::no_read_back:
        format_into(why, "%s", msg_flash_no_read_back);
        break;
    case flash_fault::read:
    case flash_fault::erase:
    case flash_fault::program:
    case flash_fault::sync:
        format_into(why, msg_flash_op_fmt,
                    ops[static_cast<int>(r.fault) - static_cast<int>(flash_fault::read)], r.at,
                    std::strerror(r.err));
        break;
    case flash_fault::not_erased:
        format_into(why, msg_flash_not_erased_fmt, r.at);
        break;
    case flash_fault::not_programmed:
        format_into(why, msg_flash_not_programmed_fmt, r.at);
        break;
    default:  // too_long, no_memory, open: the system's reason
        format_into(why, "%s", std::strerror(r.err));
    }
    (void)std_out().flush();
    put_format(std_err(), msg_flash_write_fmt, device, why, flash_tails[static_cast<int>(r.left)]);
}
