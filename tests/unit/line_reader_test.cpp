// Whole lines as every program reads the device's text files, and the
// programs agreeing on where a line starts.
#include "line_reader.h"

#include "confstore.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> lines_of(const temp_dir &d, const std::string &text)
{
    d.put("text", text);
    int fd = ::open((d / "text").c_str(), O_RDONLY | O_CLOEXEC);
    line_reader in(fd);
    std::vector<std::string> lines;
    for (std::string_view l; !(l = in.next()).empty();)
        lines.emplace_back(l);
    EXPECT_EQ(in.error(), 0);
    ::close(fd);
    return lines;
}

// A long line holding a zero byte in its first piece, then a setting.
const std::string zero_then_setting = "A=x" + std::string(1, '\0') + std::string(251, 'p') + "B=two\n";

} // namespace

TEST(line_reader, lines_are_whole_and_a_zero_byte_in_a_full_piece_ends_one)
{
    struct row { std::string text; std::vector<std::string> lines; };
    const std::string long_line = "L=" + std::string(600, 'v') + "\n";
    const std::string zero_short("A\0x\n", 4);
    const row rows[] = {
        {"A=1\nB=2", {"A=1\n", "B=2"}},
        {long_line + "B\n", {long_line, "B\n"}},
        {std::string(255, 'e'), {std::string(255, 'e')}},
        {zero_short + "B\n", {zero_short, "B\n"}},
        {zero_then_setting, {zero_then_setting.substr(0, 255), "B=two\n"}},
    };
    temp_dir d;
    for (const row &r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.text));
        EXPECT_EQ(lines_of(d, r.text), r.lines);
    }
}

TEST(line_reader, a_failed_read_keeps_its_error)
{
    temp_dir d;
    // A directory opens but cannot be read: EISDIR, whatever errno says later.
    int fd = ::open(d.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    line_reader in(fd);
    EXPECT_TRUE(in.next().empty());
    errno = 0;
    EXPECT_EQ(in.error(), -EISDIR);
    ::close(fd);
}

// The shell copy reads the same lines: export_config's zero-byte test.
TEST(line_reader, the_lookup_and_the_update_agree_on_a_zero_byte)
{
    temp_dir d;
    d.put("config", zero_then_setting);
    const std::string path = d / "config";
    std::array<char, value_buffer_size> value{};
    ASSERT_EQ(config_get(path.c_str(), "B", value), 1);
    EXPECT_STREQ(value.data(), "two");

    ASSERT_EQ(config_set(path.c_str(), "B", "three"), 0);
    EXPECT_EQ(d.get("config"), zero_then_setting.substr(0, 255) + "B=three\n");
}
