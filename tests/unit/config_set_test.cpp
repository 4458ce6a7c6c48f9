// Setting values in the working configuration.
#include "confstore.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {


struct set_result {
    outcome what;
    std::string text;
};

set_result set(const temp_dir &d, const std::string &text, const char *name, const char *value)
{
    d.put("config", text);
    const config_result r = config_set((d / "config").c_str(), name, value);
    return {r.what, d.get("config")};
}

// The value that r prints for `name` in the scratch configuration.
std::string read_back(const temp_dir &d, const char *name)
{
    std::array<char, value_buffer_size> value{};
    EXPECT_EQ(config_get((d / "config").c_str(), name, value).what, outcome::done);
    return value.data();
}

TEST(config_set, replaces_every_line_of_the_name_or_appends_one)
{
    temp_dir d;
    struct row { const char *text, *name, *value, *after; };
    const row rows[] = {
        {"A=1\nB=2\n", "B", "3", "A=1\nB=3\n"},
        {"A=1\nB=2\n", "N", "4", "A=1\nB=2\nN=4\n"},
        {"", "N", "4", "N=4\n"},
        {"B=2\nA=1\nB=7\n", "B", "3", "B=3\nA=1\nB=3\n"},
        {"B=2\n", "B", "", "B=\n"},
        {"B=2\n", "B", "a b=c", "B=a b=c\n"},
        {"A=1\n\n#c\nB=2\n", "B", "3", "A=1\n\n#c\nB=3\n"},
        // A last line without its newline is ended before the new line.
        {"A=1", "N", "4", "A=1\nN=4\n"},
        {"A=1", "A", "2", "A=2\n"},
        {"B=\n", "B", "3", "B=3\n"},
        {"A=1\nB=", "B", "5", "A=1\nB=5\n"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::string(r.text) + " / " + r.name);
        set_result got = set(d, r.text, r.name, r.value);
        EXPECT_EQ(got.what, outcome::done);
        EXPECT_EQ(got.text, r.after);
    }
}

// w and r agree: every line that the lookup reads as the name is replaced,
// so r prints the new value; lines it reads as other names stay as they are.
TEST(config_set, replaces_every_line_the_lookup_reads_as_the_name)
{
    temp_dir d;
    const std::string long_b = "B=" + std::string(300, 'v') + "\n";
    const std::string long_l = "L=" + std::string(253, 'v') + "B=9\n";  // B=9: no line of its own
    struct row { std::string text, after; };
    const row rows[] = {
        {"B =2\n", "B=3\n"},
        {"  B=2\n", "B=3\n"},
        {"\t\v\f\r B\t=2\n", "B=3\n"},
        {"B x=2\nB\tx=2\nB|x=2\nB^x=2\n", "B=3\nB=3\nB=3\nB=3\n"},
        {" B = 2 \r\n", "B=3\n"},
        {std::string("B=2\0junk\n", 9), "B=3\n"},
        {long_b, "B=3\n"},
        {"A=1\n B=2", "A=1\nB=3\n"},
        // Read as other names, or as none: kept byte for byte.
        {"BB=1\nxB=1\n#B=1\n=B\nB\n" + long_l + std::string("B\0=1\n", 5) + "B=2\n",
         "BB=1\nxB=1\n#B=1\n=B\nB\n" + long_l + std::string("B\0=1\n", 5) + "B=3\n"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.text));
        set_result got = set(d, r.text, "B", "3");
        EXPECT_EQ(got.what, outcome::done);
        EXPECT_EQ(got.text, r.after);
        EXPECT_EQ(read_back(d, "B"), "3");
    }
}

TEST(config_set, a_long_line_is_replaced_or_kept_whole)
{
    temp_dir d;
    // A long line from elsewhere (an older flash copy, the defaults) is one
    // line: copied whole with nothing behind it lost (and replaced whole, above).
    std::string tail(45, 't');
    std::string long_line = "B=" + std::string(253, 'v') + "X=" + tail + "\n";
    EXPECT_EQ(set(d, long_line + "X=1\n", "X", "2").text, long_line + "X=2\n");

    // Names of any length match exactly, never on a prefix.
    std::string n45(45, 'N');
    std::string text = n45 + "=1\n" + std::string(39, 'N') + "=2\n";
    EXPECT_EQ(set(d, text, n45.c_str(), "x").text, n45 + "=x\n" + std::string(39, 'N') + "=2\n");
}

TEST(config_set, refuses_what_would_break_the_text)
{
    temp_dir d;
    const std::string text = "A=1\n";
    const std::string v252(252, 'v'), n254(254, 'N');
    constexpr outcome bad_name = outcome::bad_name, ambiguous = outcome::ambiguous_name,
                      long_line = outcome::long_line;
    struct row { const char *name, *value; outcome what; };
    const row rows[] = {
        {"", "1", bad_name},
        {"A=B", "1", bad_name},
        {"A\nX", "1", bad_name},
        // Names the lookup would read back as another: "WAN_MODE X" as WAN_MODE.
        {" A", "1", ambiguous},
        {"\tA", "1", ambiguous},
        {"A B", "1", ambiguous},
        {"A\tB", "1", ambiguous},
        {"A|B", "1", ambiguous},
        {"A^B", "1", ambiguous},
        {"A", "1\nROOT_PASS=x", outcome::bad_value},
        {"AB", v252.c_str(), long_line},  // 256 bytes with its newline
        {n254.c_str(), "", long_line},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        set_result got = set(d, text, r.name, r.value);
        EXPECT_EQ(got.what, r.what);
        EXPECT_EQ(got.text, text);
    }
    // 255 bytes exactly are stored.
    EXPECT_EQ(set(d, text, "A", std::string(252, 'v').c_str()).text,
              "A=" + std::string(252, 'v') + "\n");
}

TEST(config_set, a_file_it_cannot_open_is_named_with_the_reason_and_not_created)
{
    temp_dir d;
    const std::string none = d / "none";
    const std::string dir = d / "dir";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    for (const std::string &path : {none, dir}) {
        SCOPED_TRACE(path);
        const config_result r = config_set(path.c_str(), "A", "1");
        EXPECT_EQ(r.what, outcome::unopened);
        EXPECT_EQ(r.path, path.c_str());
        EXPECT_EQ(r.err, path == none ? ENOENT : EISDIR);
    }
    EXPECT_NE(access(none.c_str(), F_OK), 0);
}

TEST(config_set, keeps_mode_and_leaves_no_temporary_file)
{
    temp_dir d;
    d.put("config", "A=1\n");
    ASSERT_EQ(chmod((d / "config").c_str(), 0640), 0);
    EXPECT_EQ(config_set((d / "config").c_str(), "A", "2").what, outcome::done);
    struct stat st;
    ASSERT_EQ(stat((d / "config").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // The directory holds the file and its lock, nothing else.
    EXPECT_EQ(d.names(), (std::vector<std::string>{"config", "config.lock"}));
}

} // namespace
