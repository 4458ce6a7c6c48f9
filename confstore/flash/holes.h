// The pieces of a flash partition that could not be read. A command reads
// the whole partition at once; only when that fails is it read again in
// pieces, and a piece that fails with an I/O error stands as fill in the
// bytes (fill ends a text, so no reader takes it for more of one) and is
// noted here, where the restore's rule (reading.h), the plan (plan.h) and
// the write see it. Only bytes that nothing needs may lie in a hole: a
// restore that needs one takes what stands in for it or the defaults, and
// a save never erases or programs one.
#pragma once

#include "flash/layout.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <span>

inline constexpr size_t flash_piece = 4096;
// More holes than this, and the partition counts as unreadable.
inline constexpr int flash_holes_max = 8;

struct flash_holes {
    size_t from[flash_holes_max] = {}, to[flash_holes_max] = {};
    int n = 0;

    // Notes [f, t) behind the holes noted so far; false when there is no room.
    bool add(size_t f, size_t t)
    {
        if (n > 0 && to[n - 1] == f) {
            to[n - 1] = t;
            return true;
        }
        if (n == flash_holes_max)
            return false;
        from[n] = f;
        to[n++] = t;
        return true;
    }
    // The first offset in [at, until) that could not be read, or flash_none.
    size_t first_in(size_t at, size_t until) const
    {
        for (int i = 0; i < n; ++i)
            if (from[i] < until && to[i] > at)
                return std::max(from[i], at);
        return flash_none;
    }
    // The first hole that the change from `dev` to `want` (a partition of
    // `g`) touches: in a block that must be erased (a bit set anywhere in
    // it), or in the bytes that its program covers (from the first change
    // to the last, in whole bus words); or flash_none.
    size_t first_touched(const flash_geometry &g, std::span<const char> dev,
                         std::span<const char> want) const
    {
        for (int i = 0; i < n; ++i)
            for (size_t at = from[i] / g.erase * g.erase; at < to[i]; at += g.erase) {
                const size_t block_end = std::min(at + g.erase, g.part);
                size_t first = block_end, last = at;
                bool erase = false;
                for (size_t k = at; k < block_end; ++k)
                    if (dev[k] != want[k]) {
                        first = std::min(first, k);
                        last = k + 1;
                        erase = erase || (dev[k] & want[k]) != want[k];
                    }
                if (first == block_end)
                    continue;
                const size_t word_end = (last + flash_word - 1) / flash_word * flash_word;
                const size_t hole = erase ? first_in(at, block_end)
                                          : first_in(first / flash_word * flash_word, word_end);
                if (hole != flash_none)
                    return hole;
            }
        return flash_none;
    }
};

// Reads the partition of `d` (its read(at, span): 0 or -errno) whole into
// `out`, piece by piece where it must: a piece that fails with EIO (or
// EBADMSG, a chip's unreadable bits) is filled with fill bytes and noted in
// `h`. 0, or -errno when nothing could be read, another error came, or the
// holes are too many.
template <class Dev> int flash_read_all(Dev &d, std::span<char> out, flash_holes &h)
{
    h = {};
    int rc = d.read(0, out);
    if (rc == 0 || (rc != -EIO && rc != -EBADMSG))
        return rc;
    for (size_t at = 0; at < out.size(); at += flash_piece) {
        const std::span<char> piece = out.subspan(at, std::min(flash_piece, out.size() - at));
        const int got = d.read(at, piece);
        if (got == 0)
            continue;
        if (got != -EIO && got != -EBADMSG)
            return got;
        if (!h.add(at, at + piece.size()))
            return -EIO;
        flash_image_bytes({}, at, piece);
    }
    return h.first_in(0, out.size()) == 0 && h.to[0] == out.size() ? -EIO : 0;
}
