// A model of a NOR chip under the flash write (flash/write.h's device): an
// erase sets a block to 0xFF, a program can only clear bits and covers
// whole 4-byte bus words. Power can go inside any operation, and the chip
// can fail as worn or locked chips do, or fail reads in a range. For the unit tests and the fuzz
// targets alike (no test framework in here).
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

struct nor_model {
    std::string bytes;
    size_t block = 65536;
    // Power goes inside operation `cut_op`, after `cut_at` of its bytes: a
    // program lands that prefix; an erase leaves that prefix erased, the
    // next byte a '7' (neither old nor erased) and the rest as it was. No
    // operation after it changes anything.
    int cut_op = -1;
    size_t cut_at = 0;
    // A worn chip: bits (`mask` in each byte of [from, to)) that no program
    // clears, and bits that no erase sets; operation `eio_op` (and every one
    // after it) fails with EIO, writing nothing; a locked or read-only chip
    // cannot be opened for writing.
    struct stuck {
        size_t from, to;
        unsigned char mask;
    };
    std::vector<stuck> stuck_high, stuck_low;
    int eio_op = -1;
    bool read_only = false;
    // Reads of any byte of [unreadable_from, unreadable_to) fail with EIO.
    size_t unreadable_from = 0, unreadable_to = 0;

    int ops = 0, erases = 0;
    size_t programmed = 0;  // bytes programmed
    bool opened = false;                     // writable() was called
    std::vector<size_t> op_sizes;
    std::string refused;  // a misuse by the writer, in words

    size_t size() const { return bytes.size(); }
    size_t erase_size() const { return block; }
    int read(size_t at, std::span<char> out)
    {
        if (at < unreadable_to && at + out.size() > unreadable_from)
            return -EIO;
        bytes.copy(out.data(), out.size(), at);
        return 0;
    }
    int writable()
    {
        opened = true;
        return read_only ? -EROFS : 0;
    }
    int sync() { return 0; }
    int done() { return 0; }

    int erase(size_t at)
    {
        if (int rc = start(block, at))
            return rc;
        const bool cut = cut_op >= 0 && ops - 1 == cut_op;
        const size_t whole = std::min(block, bytes.size() - at), n = cut ? std::min(cut_at, whole) : whole;
        bytes.replace(at, n, n, '\xff');
        for (const stuck &s : stuck_low)
            for (size_t i = std::max(s.from, at); i < std::min(s.to, at + n); ++i)
                bytes[i] = static_cast<char>(bytes[i] & ~s.mask);
        if (cut && n < whole)
            bytes[at + n] = '7';
        erases += !cut;
        return cut ? -ECANCELED : 0;
    }
    int program(size_t at, std::span<const char> in)
    {
        if (int rc = start(in.size(), at))
            return rc;
        const bool cut = cut_op >= 0 && ops - 1 == cut_op;
        if (at % 4 != 0 || in.size() % 4 != 0)
            refused = "a program of " + std::to_string(in.size()) + " bytes at " +
                      std::to_string(at) + " is not whole bus words";
        if (cut)
            in = in.first(std::min(cut_at, in.size()));
        for (size_t i = 0; i < in.size(); ++i) {
            char &b = bytes[at + i];
            if ((b & in[i]) != in[i])
                refused = "a program at " + std::to_string(at + i) + " needs a bit set";
            char kept = 0;
            for (const stuck &s : stuck_high)
                if (at + i >= s.from && at + i < s.to)
                    kept = static_cast<char>(b & s.mask);
            b = static_cast<char>((b & in[i]) | kept);
        }
        programmed += in.size();
        return cut ? -ECANCELED : 0;
    }

private:
    // Counts the operation; the chip's own failure, if any.
    int start(size_t len, size_t at)
    {
        if (cut_op >= 0 && ops > cut_op)
            return -ECANCELED;
        op_sizes.push_back(len);
        ++ops;
        if (!opened)
            refused = "a write at " + std::to_string(at) + " before the device was opened for it";
        return eio_op >= 0 && ops - 1 >= eio_op ? -EIO : 0;
    }
};
