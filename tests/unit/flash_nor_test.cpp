// The NOR write (nor_write_image, the code the program runs on the MTD
// character device) on a model of a NOR chip: an erase sets a block to
// 0xFF, a program can only clear bits and covers whole 4-byte bus words,
// and power can go between any two operations or inside one. After every cut the next restore finds the old
// text, the new one or the defaults; the erases are counted.
#include "flash.h"
#include "nor_write.h"

#include "flash_layout.h"
#include "temp_dir.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr size_t block = 65536;

struct nor_model {
    std::string bytes;
    // Power goes inside operation `cut_op`, after `cut_at` of its bytes: a
    // program lands that prefix; an erase leaves that prefix erased, the
    // next byte a '7' (neither old nor erased) and the rest as it was.
    int cut_op = -1;
    size_t cut_at = 0;
    int ops = 0, erases = 0;
    std::vector<size_t> op_sizes;
    std::string refused;

    size_t size() const { return bytes.size(); }
    size_t erase_size() const { return block; }
    int read(size_t at, std::span<char> out)
    {
        bytes.copy(out.data(), out.size(), at);
        return 0;
    }
    // Whether power goes inside this operation (the write stops at the
    // first failure, so nothing follows it).
    bool power_goes(size_t len)
    {
        op_sizes.push_back(len);
        return cut_op >= 0 && ops++ == cut_op;
    }
    int erase(size_t at)
    {
        bool cut = power_goes(block);
        size_t n = cut ? std::min(cut_at, block) : block;
        bytes.replace(at, n, n, '\xff');
        if (cut && n < block)
            bytes[at + n] = '7';
        erases += !cut;
        return cut ? -ECANCELED : 0;
    }
    int program(size_t at, std::span<const char> in)
    {
        bool cut = power_goes(in.size());
        if (at % 4 != 0 || in.size() % 4 != 0)
            refused = "a program of " + std::to_string(in.size()) + " bytes at " + std::to_string(at) +
                      " is not whole bus words";
        if (cut)
            in = in.first(std::min(cut_at, in.size()));
        for (size_t i = 0; i < in.size(); ++i) {
            if ((bytes[at + i] & in[i]) != in[i])
                refused = "a program at " + std::to_string(at + i) + " needs a bit set";
            bytes[at + i] = static_cast<char>(bytes[at + i] & in[i]);
        }
        return cut ? -ECANCELED : 0;
    }
};

std::string settings(const std::string &tag, size_t bytes)
{
    std::string text = "SYS_CHECK=7340215968\n";
    for (int i = 1; text.size() < bytes; ++i)
        text += "KEY_" + std::to_string(i) + "=" + tag + "-" + std::to_string(i * 37) + "\n";
    return text;
}

std::string with_last_value(std::string text, const std::string &value)
{
    size_t eq = text.rfind('=');
    return text.substr(0, eq + 1) + value + "\n";
}

const std::string defaults_text = settings("factory", 1000);

struct scenario {
    std::string name;
    std::string old_image;  // the partition's bytes (256 KiB unless smaller)
    std::string next;       // the text the command writes
    int erases;             // erases of a whole write
};

std::string image(const std::string &text, size_t part = 262144)
{
    return laid_out(text).substr(0, std::max(text.size(), part));
}

std::vector<scenario> scenarios()
{
    std::vector<scenario> all;
    for (size_t size : {1000, 16000, 70000}) {
        const std::string old = settings("old", size), tag = std::to_string(size) + " bytes, ";
        const int blocks = size > block ? 2 : 1;
        all.push_back({"c same count, one value", image(old), with_last_value(old, "changed"), blocks});
        all.push_back({"c different count", image(old), settings("new", size - 200) + "\n# kept\n",
                       blocks});
        all.push_back({"d", image(old), defaults_text, blocks});
        all.push_back({"i reset over an invalid copy",
                       image("SYS_CHECK=1\n" + old.substr(21)), defaults_text, blocks});
        for (auto i = all.end() - 4; i != all.end(); ++i)
            i->name = tag + i->name;
    }
    all.push_back({"i reset over an erased partition", std::string(262144, '\xff'), defaults_text, 0});
    all.push_back({"c unchanged", image(settings("same", 16000)), settings("same", 16000), 0});
    // A marker run before the deciding line, a second marker line in block 1.
    std::string decoy = "PHONE=7340215968\n" + settings("d", 70000) + "SYS_CHECK=7340215968\n";
    all.push_back({"markers elsewhere", image(decoy), "PHONE=7340215968\n" + settings("e", 3000), 2});
    // A marker run in a long line's second piece, which the lookup never
    // judges: the line behind it decides.
    all.push_back({"marker inside a long line", image(settings("old", 16000)),
                   "LONG=" + std::string(250, 'x') + "SYS_CHECK=7340215968\n" + settings("l", 3000), 1});
    all.push_back({"one-block partition", image(settings("old", 16000), block),
                   settings("new", 20000), 1});
    return all;
}

struct restorer {
    temp_dir dir;
    std::string device = dir / "flash", working = dir / "working", defaults = dir / "defaults";
    flash_paths paths{device.c_str(), working.c_str(), defaults.c_str()};

    restorer() { dir.put("defaults", defaults_text); }
    // What `i` puts into an empty working configuration from `bytes`.
    std::string restore(const std::string &bytes)
    {
        dir.put("flash", bytes);
        dir.put("working", "");
        char value[512] = {};
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        flash_restore(paths, value);
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        return dir.get("working");
    }
};

ssize_t write(nor_model &m, const std::string &text)
{
    int erases = 0;
    ssize_t n = nor_write_image(m, std::span<const char>(text.data(), text.size()), erases);
    EXPECT_EQ(erases, m.erases);
    return n;
}

} // namespace

TEST(nor_write_image, erases_only_changed_blocks_and_leaves_old_new_or_defaults_at_every_cut)
{
    restorer r;
    for (const scenario &s : scenarios()) {
        SCOPED_TRACE(s.name);
        nor_model whole{s.old_image};
        ssize_t n = write(whole, s.next);
        ASSERT_GE(n, 0);
        EXPECT_EQ(whole.refused, "");
        EXPECT_EQ(whole.erases, s.erases);
        EXPECT_EQ(whole.bytes, image(s.next, s.old_image.size()));
        const std::string old_r = r.restore(s.old_image), new_r = r.restore(whole.bytes);
        const std::string &defaults_r = defaults_text;
        for (size_t op = 0; op < whole.op_sizes.size(); ++op) {
            const size_t len = whole.op_sizes[op];
            for (size_t at : {size_t{0}, size_t{1}, len / 2, len - 1}) {
                SCOPED_TRACE("cut in operation " + std::to_string(op) + " after " +
                             std::to_string(at) + " of " + std::to_string(len) + " bytes");
                nor_model cut{s.old_image};
                cut.cut_op = static_cast<int>(op);
                cut.cut_at = at;
                EXPECT_EQ(write(cut, s.next), -ECANCELED);
                EXPECT_EQ(cut.refused, "");
                std::string got = r.restore(cut.bytes);
                EXPECT_TRUE(got == old_r || got == new_r || got == defaults_r)
                    << got.substr(0, 200);
            }
        }
    }
}

TEST(nor_write_image, refuses_a_text_longer_than_the_partition_before_writing)
{
    const std::string old = image(settings("old", 16000), block);
    nor_model m{old};
    EXPECT_EQ(write(m, settings("new", block + 1)), -ENOSPC);
    EXPECT_TRUE(m.op_sizes.empty());
    EXPECT_EQ(m.bytes, old);
}
