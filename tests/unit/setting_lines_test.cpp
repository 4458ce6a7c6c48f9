// Counting and gathering setting lines, from plain files and from the flash
// layout (text, then the 00 00 00 FF fill).
#include "flash/layout.h"
#include "setting_lines.h"

#include "flash_layout.h"

#include <gtest/gtest.h>
#include <string>

namespace {

int count(const std::string &bytes)
{
    return count_setting_lines(std::span<const char>(bytes));
}

std::string copy(const std::string &bytes, line_source from)
{
    heap_text out;
    EXPECT_EQ(append_setting_lines(std::span<const char>(bytes), from, out), 0);
    return std::string(out.bytes().data(), out.size());
}

const std::string long_line = "LONG=" + std::string(300, 'x') + "\n";

} // namespace

TEST(count_setting_lines, stops_at_the_first_line_without_an_equals_sign)
{
    struct {
        const char *name;
        std::string text;
        int lines;
    } cases[] = {
        {"three settings", "A=1\nB=2\nC=3\n", 3},
        {"empty file", "", 0},
        {"blank line inside", "A=1\nB=2\n\nC=3\n", 2},
        {"comment first", "#note\nA=1\n", 0},
        {"comment holding =", "A=1\n# x = y\nB=2\n", 3},
        {"last line without newline", "A=1\nB=2", 2},
        {"a long line is one line", long_line + "B=2\n", 2},
        {"a long line's = is no line of its own", "LONG=" + std::string(260, 'x') + "=y\nB=2\n", 2},
        {"zero byte ends a line's text", std::string("A=1\0junk\nB=2\n", 13), 2},
        {"erased flash", laid_out(""), 0},
        {"flash text without final newline", laid_out("A=1\nB=2"), 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(count(c.text), c.lines);
    }
}

TEST(append_setting_lines, from_a_file_copies_each_setting_line_as_its_text)
{
    EXPECT_EQ(copy("A=1\nB=2\n\nC=3\n", line_source::file), "A=1\nB=2\n");
    EXPECT_EQ(copy("A=1\nB=2", line_source::file), "A=1\nB=2");
    EXPECT_EQ(copy(std::string("A=1\0junk\nB=2\n", 13), line_source::file), "A=1B=2\n");
    EXPECT_EQ(copy(long_line + "B=2\n", line_source::file), long_line + "B=2\n");
}

TEST(append_setting_lines, from_flash_never_carries_fill_bytes_into_the_text)
{
    // One text length in four ends just before a fill group's 0xFF byte.
    for (const std::string text : {"A=1\nB=2", "A=1\nB=22", "A=1\nB=222", "A=1\nB=2222"}) {
        SCOPED_TRACE(text.size() % 4);
        EXPECT_EQ(copy(laid_out(text), line_source::flash), text + "\n");
        EXPECT_EQ(copy(laid_out(text + "\n"), line_source::flash), text + "\n");
    }
    // A last line whose 255-byte piece ends at the fill, or just before it,
    // at every offset: the next piece starts in the fill and adds nothing.
    for (const std::string head : {"A=1\n", "A=12\n", "A=123\n", "A=1234\n"})
        for (size_t len : {253u, 254u, 255u}) {
            const std::string text = head + "Z=" + std::string(len - 2, 'z');
            SCOPED_TRACE(std::to_string(head.size()) + "+" + std::to_string(len));
            EXPECT_EQ(copy(laid_out(text), line_source::flash), text + "\n");
        }
}

TEST(append_setting_lines, from_flash_ends_every_line_it_restores)
{
    EXPECT_EQ(copy(laid_out("SYS_CHECK=7340215968\nA=1\n\nB=2\n"), line_source::flash),
              "SYS_CHECK=7340215968\nA=1\n");
    EXPECT_EQ(copy(laid_out(long_line + "B=2\n"), line_source::flash), long_line + "B=2\n");
    EXPECT_EQ(copy(std::string("A=1\0junk\nB=2\n", 13), line_source::flash), "A=1\nB=2\n");
    EXPECT_EQ(copy("A=1", line_source::flash), "A=1\n");
    EXPECT_EQ(copy(laid_out(""), line_source::flash), "");
}

namespace {

// Where the fill behind a text of `len` bytes ends on a partition of `g`.
size_t fill_end(const flash_geometry &g, size_t len)
{
    const std::string text(len, 'A');
    std::string part(g.part, '\0');
    return flash_lay_out(g, std::span<const char>(text), std::span<char>(part));
}

} // namespace

TEST(flash_image_bytes, lays_the_text_then_fill_groups_aligned_to_the_offset)
{
    const std::string text = "A=1\nB=2";
    std::string expected = laid_out(text);
    const flash_geometry g = flash_geometry_of(262144, 65536), big = flash_geometry_of(524288, 65536);
    EXPECT_EQ(fill_end(g, text.size()), 196608u);
    EXPECT_EQ(fill_end(g, 200000), 262144u);
    EXPECT_EQ(fill_end(big, 300000), 300004u);
    EXPECT_FALSE(flash_geometry_of(65536, 65536).has_backup());
    for (size_t offset : {0u, 3u, 5u, 7u, 262100u}) {
        SCOPED_TRACE(offset);
        std::string out(44, '?');
        flash_image_bytes(std::span<const char>(text.data(), text.size()), offset, out);
        EXPECT_EQ(out, expected.substr(offset, 44));
    }
}
