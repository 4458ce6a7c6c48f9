// The save that every command runs (flash_save) and the restore's reading
// (flash_read, flash_finish) over whole partitions of any
// bytes, 4 KiB to 1 MiB, erase blocks of 4 or 64 KiB, on the NOR model: a
// restore (i), a commit of a changed text (c), a restore again. No write
// needs a bit set or lands behind the image area's end, and the second
// restore gives exactly the committed text, or, when the commit refused
// it, what the first gave.
//
// Input: two bytes of size (in 4 KiB, less one, rounded up to whole
// blocks), a byte of flags (bit 0: 64 KiB blocks; bits 1-2: the bytes
// everywhere, FF / 00 / fill / 'Z'; bit 3: reads fail with EIO in one piece
// of 4 KiB, or two with bit 4, at the next byte's piece), then pieces
// placed on them: a 3-byte offset, a 2-byte length, the bytes. Nothing is
// ever written over a piece that cannot be read.
#include "flash/holes.h"
#include "flash/reading.h"
#include "flash/save.h"
#include "setting_lines.h"

#include "nor_model.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>

namespace {

const std::string defaults = "SYS_CHECK=7340215968\nAP_SSID=factory\nAP_CHMODE=11NGHT20\n";

size_t take(const uint8_t *&p, const uint8_t *end, int bytes)
{
    size_t v = 0;
    for (int i = 0; i < bytes && p < end; ++i)
        v = v << 8 | *p++;
    return v;
}

nor_model partition_of(const uint8_t *p, const uint8_t *end)
{
    const size_t units = 1 + take(p, end, 2) % 256, flags = take(p, end, 1);
    nor_model m;
    m.block = flags & 1 ? 65536 : 4096;
    // Bit 3: a piece or two that cannot be read, at the next byte's 4 KiB.
    if (flags & 8) {
        m.unreadable_from = 4096 * take(p, end, 1);
        m.unreadable_to = m.unreadable_from + 4096 * (1 + (flags >> 4 & 1));
    }
    // A partition is whole erase blocks.
    const size_t size = (4096 * units + m.block - 1) / m.block * m.block;
    static const char backgrounds[] = {'\xff', '\0', 0, 'Z'};
    m.bytes.assign(size, backgrounds[flags >> 1 & 3]);
    if ((flags >> 1 & 3) == 2)
        for (size_t k = 0; k < size; ++k)
            m.bytes[k] = flash_fill_byte(k);
    while (p < end) {
        const size_t at = take(p, end, 3), len = take(p, end, 2);
        for (size_t i = 0; i < len && p < end; ++i, ++p)
            if (at + i < size)
                m.bytes[at + i] = static_cast<char>(*p);
    }
    return m;
}

std::string lines_of(std::span<const char> text)
{
    heap_text out;
    if (append_setting_lines(text, line_source::flash, out) != 0)
        __builtin_trap();
    return std::string(out.view());
}

// The partition as a command reads it: whole, its unreadable pieces as
// fill. False when it cannot be read at all (EIO everywhere), which the
// commands take for a device that cannot be used.
bool read_partition(nor_model &m, std::string &dev, flash_holes &holes)
{
    dev.assign(m.bytes.size(), '\0');
    const int rc = flash_read_all(m, std::span<char>(dev), holes);
    if (rc != 0 && rc != -EIO)
        __builtin_trap();
    return rc == 0;
}

// Saves `text` as a command would, after reading the partition.
flash_result save(nor_model &m, const std::string &text)
{
    flash_holes holes;
    std::string dev;
    if (!read_partition(m, dev, holes))
        return {flash_fault::read, EIO, 0, flash_left::old_copy};
    m.opened = false;
    heap_text t;
    if (t.append(std::string_view(text)) != 0)
        __builtin_trap();
    return flash_save(m, flash_geometry_of(m.size(), m.block), std::span<char>(dev), holes, t);
}

// Whether nothing changed from `end` on (a block erased there is
// programmed back as it was).
bool unchanged_behind(const nor_model &m, const std::string &was, size_t end)
{
    return end >= was.size() || m.bytes.compare(end, std::string::npos, was, end) == 0;
}

bool refusal(const flash_result &r)
{
    return r.fault == flash_fault::no_read_back || r.fault == flash_fault::too_long ||
           (r.fault == flash_fault::read && r.err == EIO);  // a hole it must not touch
}

// The restore: what the working configuration gets, with the flash written
// as the restore writes it.
std::string restore(nor_model &m)
{
    const flash_geometry g = flash_geometry_of(m.size(), m.block);
    flash_holes holes;
    std::string dev;
    if (!read_partition(m, dev, holes))
        return defaults;
    const flash_reading r = flash_read(g, std::span<const char>(dev), holes);
    flash_result res;
    std::string working;
    m.opened = false;
    if (r.unread) {  // nothing is written over a copy that cannot be read
        const std::string text(r.text.data(), r.text.size());
        return r.from == flash_reading::backup ? lines_of(text) : defaults;
    }
    if (r.from == flash_reading::copy) {
        working = lines_of(r.text);
        res = flash_finish(m, g, std::span<char>(dev), r.finish_at);
    } else {
        const std::string text = r.from == flash_reading::backup ? std::string(r.text.data(), r.text.size())
                                                                : defaults;
        working = r.from == flash_reading::backup ? lines_of(text) : defaults;
        res = save(m, text);
    }
    if (!res.ok() && !refusal(res))
        __builtin_trap();
    return working;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    nor_model m = partition_of(data, data + size);
    const flash_geometry g = flash_geometry_of(m.size(), m.block);
    const std::string given = m.bytes;
    const auto hole_kept = [&] {
        const size_t from = std::min(m.unreadable_from, m.size()), to = std::min(m.unreadable_to, m.size());
        return from >= to || m.bytes.compare(from, to - from, given, from, to - from) == 0;
    };
    const std::string first = restore(m);
    if (!unchanged_behind(m, given, g.image_end))
        __builtin_trap();
    const std::string committed = "SYS_CHECK=7340215968\n" + first + "FUZZ_CHANGED=" +
                                  std::to_string(size) + "\n";
    const std::string before = m.bytes;
    const flash_result r = save(m, committed);
    if (!r.ok() && !refusal(r))
        __builtin_trap();
    if (!m.refused.empty())
        __builtin_trap();
    std::string image(m.size(), '\0');
    const size_t fill_end = flash_lay_out(g, std::span<const char>(committed), std::span<char>(image));
    if (!unchanged_behind(m, before, std::max(g.image_end, fill_end)))
        __builtin_trap();
    const std::string second = restore(m);
    if (second != (r.ok() ? committed : first) || !hole_kept())
        __builtin_trap();
    return 0;
}
