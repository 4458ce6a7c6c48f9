// Pieces and whole lines as every program reads the device's text files,
// from a descriptor or from memory, and the programs agreeing on where a
// line starts.
#include "text_reader.h"

#include "confstore.h"
#include "temp_dir.h"
#include "unique_fd.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <utility>
#include <vector>

namespace {

using lines = std::vector<std::pair<std::string, size_t>>;  // bytes, offset

lines lines_in(text_reader &in)
{
    lines got;
    for (text_line l; !(l = in.next_line()).bytes.empty();)
        got.emplace_back(l.bytes, l.at);
    EXPECT_EQ(in.error(), 0);
    return got;
}

// The lines of `text` read from a file; they must be those read from memory.
lines lines_of(const std::string &text)
{
    temp_dir d;
    d.put("text", text);
    unique_fd fd(::open((d / "text").c_str(), O_RDONLY | O_CLOEXEC));
    text_reader from_file(fd.get()), from_memory(std::span<const char>(text.data(), text.size()));
    lines got = lines_in(from_file);
    EXPECT_EQ(lines_in(from_memory), got);
    return got;
}

// A long line holding a zero byte in its first piece, then a setting.
const std::string zero_then_setting = "A=x" + std::string(1, '\0') + std::string(251, 'p') + "B=two\n";

} // namespace

TEST(text_reader, lines_are_whole_and_a_zero_byte_in_a_full_piece_ends_one)
{
    struct row { std::string text; lines want; };
    const std::string long_line = "L=" + std::string(600, 'v') + "\n";
    const std::string zero_short("A\0x\n", 4);
    const row rows[] = {
        {"A=1\nB=2", {{"A=1\n", 0}, {"B=2", 4}}},
        {long_line + "B\n", {{long_line, 0}, {"B\n", 603}}},
        {std::string(255, 'e'), {{std::string(255, 'e'), 0}}},
        {zero_short + "B\n", {{zero_short, 0}, {"B\n", 4}}},
        {zero_then_setting, {{zero_then_setting.substr(0, 255), 0}, {"B=two\n", 255}}},
        {"", {}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.text));
        EXPECT_EQ(lines_of(r.text), r.want);
    }
}

TEST(text_reader, pieces_tell_where_they_start_and_whether_they_continue_a_line)
{
    const std::string text = "A=1\n" + std::string(300, 'v') + "\n" + zero_then_setting;
    const std::span<const char> bytes(text.data(), text.size());
    text_reader in(bytes);
    struct want { size_t at, size; bool continues; };
    const want pieces[] = {{0, 4, false}, {4, 255, false}, {259, 46, true},
                           {305, 255, false}, {560, 6, false}};
    for (const want &w : pieces) {
        SCOPED_TRACE(w.at);
        const text_piece p = in.next_piece();
        EXPECT_EQ(p.at, w.at);
        EXPECT_EQ(p.bytes.size(), w.size);
        EXPECT_EQ(p.bytes.data(), text.data() + w.at);  // in the text itself
        EXPECT_EQ(p.continues, w.continues);
    }
    EXPECT_TRUE(in.next_piece().bytes.empty());
}

// Lines that straddle the read buffer's end, long and short, zero bytes
// among them: the file gives the lines that memory gives, each starting
// where the one before ended.
TEST(text_reader, a_file_larger_than_its_buffer_reads_as_the_same_lines)
{
    std::string text;
    for (int i = 0; text.size() < 20000; ++i)
        text += "N" + std::to_string(i) + "=" + std::string(static_cast<size_t>(i * 37 % 700), 'x') +
                (i % 5 == 0 ? std::string(1, '\0') : "") + "\n";
    const lines got = lines_of(text);
    std::string joined;
    for (const auto &[bytes, at] : got) {
        EXPECT_EQ(at, joined.size());
        joined += bytes;
    }
    EXPECT_EQ(joined, text);
}

TEST(text_reader, a_failed_read_keeps_its_error)
{
    temp_dir d;
    // A directory opens but cannot be read: EISDIR, whatever errno says later.
    unique_fd fd(::open(d.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    text_reader in(fd.get());
    EXPECT_TRUE(in.next_line().bytes.empty());
    errno = 0;
    EXPECT_EQ(in.error(), -EISDIR);
}

// The shell copy reads the same lines: export_config's zero-byte test.
TEST(text_reader, the_lookup_and_the_update_agree_on_a_zero_byte)
{
    temp_dir d;
    d.put("config", zero_then_setting);
    const std::string path = d / "config";
    std::array<char, value_buffer_size> value{};
    ASSERT_EQ(config_get(path.c_str(), "B", value).what, outcome::done);
    EXPECT_STREQ(value.data(), "two");

    ASSERT_EQ(config_set(path.c_str(), "B", "three").what, outcome::done);
    EXPECT_EQ(d.get("config"), zero_then_setting.substr(0, 255) + "B=three\n");
}
