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
    return dev.read(0, bytes.writable());
}

flash_result flash_store_begin(flash_partition &p, heap_text &text)
{
    // A last line without its newline would run into the fill, and a last
    // byte 0xFF could not be told from the fill's: every text ends a line.
    if (!text.ends_line() && text.append(std::string_view("\n")) != 0)
        return {flash_fault::no_memory, ENOMEM, 0, flash_left::old_copy};
    flash_result r = flash_plan_save(p.g, p.bytes.bytes(), text.bytes(), p.want, p.plan);
    if (r.ok() && p.plan.writes)
        if (int rc = p.dev.writable())
            return {flash_fault::open, -rc, 0, flash_left::old_copy};
    return r;
}

flash_result flash_store_end(flash_partition &p)
{
    if (!p.plan.writes)
        return {};
    flash_result r = flash_write(p.dev, p.g, p.bytes.writable(), p.want.bytes(), p.plan);
    if (int rc = p.dev.done(); rc != 0 && r.ok())
        r = {flash_fault::sync, -rc, 0, flash_left::new_copy};
    return r;
}

void flash_report(const char *action, const char *path, int err, bool kept)
{
    (void)std_out().flush();
    if (kept)
        put_format(std_err(), msg_flash_kept_fmt, action, path, std::strerror(err));
    else
        put_format(std_err(), msg_flash_failed_fmt, action, path, std::strerror(err));
}

void flash_report(const char *device, const flash_result &r)
{
    static constexpr const char *ops[] = {"reading", "erasing", "programming", "syncing"};
    char why[192];
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
