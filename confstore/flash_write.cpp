// The parts of the flash write that do not touch the device, and its plan.
#include "flash_write.h"

#include "flash_reading.h"

namespace {

// A partition's bytes in memory as a device: the plan's run of a save. Its
// bytes are the writer's own, which already hold what each step leaves.
struct memory_flash {
    std::span<char> bytes;
    size_t block;
    size_t ops = 0;

    size_t size() const { return bytes.size(); }
    size_t erase_size() const { return block; }
    int read(size_t at, std::span<char> out)
    {
        std::memcpy(out.data(), bytes.data() + at, out.size());
        return 0;
    }
    int writable() { return 0; }
    int erase(size_t)
    {
        ++ops;
        return 0;
    }
    int program(size_t, std::span<const char>)
    {
        ++ops;
        return 0;
    }
    int sync() { return 0; }
};

} // namespace

namespace flash_detail {

bool programmable(std::span<const char> have, std::span<const char> want)
{
    for (size_t i = 0; i < want.size(); ++i)
        if ((have[i] & want[i]) != want[i])
            return false;
    return true;
}

void block_image(std::span<const char> text, size_t end, std::span<const char> dev, size_t at,
                 std::span<char> want)
{
    size_t in_image = at < end ? std::min(want.size(), end - at) : 0;
    flash_image_bytes(text, at, want.first(in_image));
    std::memcpy(want.data() + in_image, dev.data() + at + in_image, want.size() - in_image);
}

void hold_markers(std::span<const char> text, std::span<const char> dev, size_t at,
                  std::span<char> want)
{
    size_t from = at > flash_marker_len ? at - flash_marker_len : 0;
    for (size_t m; (m = flash_next_marker(text, from)) != flash_none && m < at + want.size();
         from = m + flash_marker_len)
        for (size_t i = std::max(m, at); i < std::min(m + flash_marker_len, at + want.size()); ++i)
            want[i - at] = dev[i];
}

record_plan plan_record(const flash_geometry &g, std::span<const char> dev,
                        std::span<const char> text)
{
    const flash_backup_state s = flash_backup_scan(g, dev);
    // A finished record of the same text gets a new one: the save under
    // way must be able to come back.
    if (s.found && !s.finished && s.text_len == text.size() &&
        std::memcmp(dev.data() + s.text_at, text.data(), text.size()) == 0)
        return {record_plan::already_newest, 0, 0};
    const uint32_t seq = s.found ? s.seq + 1 : 1;
    if (!flash_backup_fits(g, text.size()))
        return {record_plan::clear_area, 0, 0};
    if (s.tidy && s.next + flash_record_size(text.size()) <= g.image_end)
        return {record_plan::append, s.next, seq};
    // Erasing the area is safe only while the copy itself is valid.
    if (flash_copy_valid(g, dev))
        return {record_plan::erase_then_append, g.backup_at, seq};
    return {record_plan::clear_area, 0, 0};
}

bool holds_image(std::span<const char> dev, std::span<const char> text, size_t end,
                 std::span<char> want)
{
    for (size_t at = 0; at < end; at += want.size()) {
        std::span<char> w = want.first(std::min(want.size(), end - at));
        flash_image_bytes(text, at, w);
        if (std::memcmp(dev.data() + at, w.data(), w.size()) != 0)
            return false;
    }
    return true;
}

} // namespace flash_detail

flash_result flash_plan_save(const flash_geometry &g, std::span<const char> dev,
                             std::span<const char> text, bool &writes)
{
    writes = false;
    if (text.size() > g.part)
        return {flash_fault::too_long, ENOSPC, 0, flash_left::old_copy};
    if (g.erase == 0 || g.erase % flash_detail::word != 0 || dev.size() != g.part)
        return {flash_fault::open, EINVAL, 0, flash_left::old_copy};
    heap_text copy;
    if (copy.resize(g.part) != 0)
        return {flash_fault::no_memory, ENOMEM, 0, flash_left::old_copy};
    std::memcpy(copy.writable().data(), dev.data(), g.part);
    memory_flash m{copy.writable(), g.erase};
    if (flash_result r = flash_write(m, g, copy.writable(), text); !r.ok())
        return r;
    if (!flash_gives_back(g, copy.bytes(), text))
        return {flash_fault::no_read_back, 0, 0, flash_left::old_copy};
    writes = m.ops > 0;
    return {};
}
