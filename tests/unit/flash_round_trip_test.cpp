// Every text that c stores comes back from the next i exactly, whatever
// the partition held before; a text that cannot is refused in one line and
// the old one stays. Texts around the backup area (192 KiB), the image
// area's end (256 KiB) and erase-block multiples, after a short text with
// records, a text reaching into the backup area, one longer than 256 KiB,
// and bytes of no known use.
#include "flash_restorer.h"

#include <gtest/gtest.h>
#include <string>

namespace {

// Setting lines, the marker first, exactly `len` bytes.
std::string text_of(size_t len, char tag)
{
    std::string t = "SYS_CHECK=7340215968\n";
    for (int i = 0; t.size() + 60 < len; ++i)
        t += "K" + std::to_string(i) + "=" + std::string(40, tag) + "\n";
    const size_t rest = len - t.size();  // 21 to 60 bytes
    return t + "L=" + std::string(rest - 3, tag) + "\n";
}

struct before {
    const char *name;
    size_t part;
    std::string (*lay)(flash_restorer &, const std::string &device);
};

std::string committed(flash_restorer &f, const std::string &device, size_t part, size_t len)
{
    f.dir.put("flash", std::string(part, '\xff'));
    EXPECT_EQ(f.commit(device, text_of(len, 'o')), "");
    return f.restore(device);
}

const before befores[] = {
    {"a short text with records", 262144,
     [](flash_restorer &f, const std::string &d) { return committed(f, d, 262144, 3000); }},
    {"a text reaching into the backup area", 262144,
     [](flash_restorer &f, const std::string &d) { return committed(f, d, 262144, 230000); }},
    {"a text longer than 256 KiB", 1048576,
     [](flash_restorer &f, const std::string &d) { return committed(f, d, 1048576, 400000); }},
    {"bytes of no known use", 1048576,
     [](flash_restorer &f, const std::string &d) {
         f.dir.put("flash", std::string(1048576, 'Z'));
         return f.restore(d);
     }},
};

} // namespace

TEST(flash_commit, gives_every_text_back_exactly_or_refuses_it_and_keeps_the_old)
{
    const size_t lengths[] = {65536,  131072, 196600, 196604, 196607, 196608, 196609,
                              196612, 230000, 262140, 262143, 262144, 262145, 262148, 300000};
    flash_restorer f("SYS_CHECK=7340215968\nDEFAULTS=1\n");
    const std::string device = f.dir / "flash";
    for (const before &b : befores)
        for (size_t len : lengths) {
            if (len > b.part)
                continue;
            SCOPED_TRACE(std::string(b.name) + ", a text of " + std::to_string(len) + " bytes");
            const std::string old = b.lay(f, device), text = text_of(len, 'n');
            ASSERT_EQ(text.size(), len);
            const std::string err = f.commit(device, text);
            EXPECT_EQ(err, "");
            EXPECT_EQ(f.restore(device), err.empty() ? text : old);
        }
}

TEST(flash_commit, refuses_a_text_whose_bytes_would_end_it_at_the_backup_area)
{
    // Bytes at 192 KiB that a restore takes for the backup area's (erased,
    // cleared, a record's magic), or a marker only behind 256 KiB: the text
    // would not come back, so nothing is written.
    const std::string head = "SYS_CHECK=7340215968\n";
    const std::string filler = text_of(196608 - 8, 'f').substr(head.size());
    const struct {
        const char *name;
        size_t part;
        std::string text;
    } cases[] = {
        {"erased bytes at 192 KiB", 262144,
         head + filler + "V=\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff=x\n"},
        {"a record's magic at 192 KiB", 262144, head + filler + "V=aaaaaa\x9e\x0c\x43\x71=x\n"},
        {"the marker only behind 256 KiB", 1048576,
         text_of(270000, 'f').substr(head.size()) + head},
    };
    flash_restorer f("SYS_CHECK=7340215968\nDEFAULTS=1\n");
    const std::string device = f.dir / "flash";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string old = committed(f, device, c.part, 3000);
        const std::string bytes = f.dir.get("flash");
        EXPECT_EQ(f.commit(device, c.text),
                  "cannot write " + device +
                      ": the text would not read back from the flash copy as it is; the flash "
                      "copy is left as it was\n");
        EXPECT_EQ(f.dir.get("flash"), bytes);
        EXPECT_EQ(f.restore(device), old);
    }
}
