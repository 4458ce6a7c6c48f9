// Trimming and lookup of configuration text.
#include "confstore.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string run_trim(char *(*fn)(char *, const char *), const std::string &in)
{
    std::array<char, 300> out{};
    return fn(out.data(), in.c_str());
}

TEST(trim, strips_white_space_of_every_kind_on_its_side)
{
    struct row { const char *in, *l, *r, *a; };
    const row rows[] = {
        {"", "", "", ""},
        {" \t\n\v\f\r", "", "", ""},
        {" a b ", "a b ", " a b", "a b"},
        {"\t\r\nx=1\r\n", "x=1\r\n", "\t\r\nx=1", "x=1"},
        {"abc", "abc", "abc", "abc"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.in);
        EXPECT_EQ(run_trim(l_trim, r.in), r.l);
        EXPECT_EQ(run_trim(r_trim, r.in), r.r);
        EXPECT_EQ(run_trim(a_trim, r.in), r.a);
    }
}

TEST(trim, same_buffer_for_input_and_output_is_an_assertion_stop)
{
    char buf[8] = "x";
    // The whole report line, the same whichever C library the program has.
    const std::string report = "^unit_tests: confstore:[0-9]+: ";
    EXPECT_DEATH(l_trim(buf, buf), report + "l_trim: Assertion `szOutput != szInput' failed\\.\n");
    EXPECT_DEATH(r_trim(buf, buf), report + "r_trim: Assertion `szOutput != szInput' failed\\.\n");
    // a_trim checks this one through l_trim.
    EXPECT_DEATH(a_trim(buf, buf), report + "l_trim: Assertion `szOutput != szInput' failed\\.\n");
    EXPECT_DEATH(a_trim(buf, nullptr),
                 report + "a_trim: Assertion `szInput != \\(\\(void \\*\\)0\\)' failed\\.\n");
}

namespace {

// The line number in the assertion report of `fn` on the arguments given,
// run in a child that the report ends.
std::string reported_line(char *(*fn)(char *, const char *), char *out, const char *in)
{
    int p[2];
    if (::pipe(p) != 0)
        return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(p[1], STDERR_FILENO);
        fn(out, in);
        ::_exit(0);
    }
    ::close(p[1]);
    char buf[512];
    const ssize_t n = ::read(p[0], buf, sizeof buf);
    ::close(p[0]);
    ::waitpid(pid, nullptr, 0);
    const std::string report(buf, n > 0 ? static_cast<size_t>(n) : 0);
    const size_t at = report.find("confstore:");
    return at == std::string::npos ? report : report.substr(at + 10, report.find(':', at + 10) - at - 10);
}

} // namespace

TEST(trim, an_assertion_report_gives_the_line_of_the_check_that_failed)
{
    char buf[8] = "x";
    const std::string first = reported_line(l_trim, buf, nullptr), third = reported_line(l_trim, buf, buf);
    EXPECT_NE(first.find_first_not_of("0123456789"), 0u) << first;
    EXPECT_NE(first, third);
}

struct lookup {
    outcome what;
    std::string value;
};

lookup get(const temp_dir &d, const std::string &text, const std::string &name)
{
    d.put("config", text);
    std::array<char, value_buffer_size> value{};
    const config_result r = config_get((d / "config").c_str(), name.c_str(), value);
    return {r.what, value.data()};
}

constexpr outcome found = outcome::done, absent = outcome::absent;

TEST(config_get, finds_the_value_as_the_device_reads_it)
{
    temp_dir d;
    struct row { const char *text, *name; outcome what; const char *value; };
    const row rows[] = {
        {"AP_SSID=Office\n", "AP_SSID", found, "Office"},
        {"  AP_SSID \t=  My Net  \r\n", "AP_SSID", found, "My Net"},
        {"AP_SSID=\n", "AP_SSID", found, ""},
        {"AP_SSID=   \n", "AP_SSID", found, "   "},
        {"AP_SSID X=5\n", "AP_SSID", found, "5"},
        {"AP_SSID|X=5\n", "AP_SSID", found, "5"},
        {"AP_SSID^X=5\n", "AP_SSID", found, "5"},
        {"AP_DEVICE_NAME=ab=cd\n", "AP_DEVICE_NAME", found, "ab=cd"},
        {"ap_ssid=x\n", "AP_SSID", absent, ""},
        {"#AP_SSID=x\n", "AP_SSID", absent, ""},
        {"#AP_SSID=x\n", "#AP_SSID", found, "x"},
        {"AP_SSID\nAP_SSID=x\n", "AP_SSID", found, "x"},
        {"\n\nB=2\n", "B", found, "2"},
        {"A=1\nA=2\n", "A", found, "1"},
        {"=v\n", "", found, "v"},
        {"A=1\n=v\n", "", found, "v"},
        {"A B=1\n", "A B", absent, ""},
        {"A=1\n", "A=1", absent, ""},
        {"A|B=1\n", "A|B", absent, ""},
        {"LAST=no newline", "LAST", found, "no newline"},
        {"", "A", absent, ""},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::string(r.text) + " / " + r.name);
        lookup got = get(d, r.text, r.name);
        EXPECT_EQ(got.what, r.what);
        EXPECT_EQ(got.value, r.value);
    }
}

TEST(config_get, a_long_line_is_one_line_whose_value_is_its_first_piece)
{
    temp_dir d;
    std::string line = "LONG=" + std::string(295, 'v') + "\n";  // 301 bytes
    lookup got = get(d, line + "B=2\n", "LONG");
    EXPECT_EQ(got.what, found);
    EXPECT_EQ(got.value, std::string(250, 'v'));

    // The rest of the line is never a line of its own: no setting hides there.
    std::string tricky = "LONG=" + std::string(250, 'v') + "X=tail\nB=2\n";
    EXPECT_EQ(get(d, tricky, "X").what, absent);
    EXPECT_EQ(get(d, tricky, "B").value, "2");

    // A line of exactly 255 bytes, its newline included, is read whole.
    std::string full = "FULL=" + std::string(249, 'f') + "\n";
    EXPECT_EQ(get(d, full, "FULL").value, std::string(249, 'f'));
}

TEST(config_get, long_names_match_only_whole)
{
    temp_dir d;
    const std::string name40(40, 'N');
    const std::string name31(31, 'N');
    std::string text = name40 + "=forty\n" + name31 + "=thirty-one\n";
    EXPECT_EQ(get(d, text, name40).value, "forty");
    EXPECT_EQ(get(d, text, name31).value, "thirty-one");
    EXPECT_EQ(get(d, text, std::string(32, 'N')).what, absent);
}

TEST(config_get, absent_name_and_missing_file_leave_value_untouched)
{
    temp_dir d;
    d.put("config", "A=1\n");
    std::array<char, value_buffer_size> value{};
    std::snprintf(value.data(), value.size(), "keep");
    EXPECT_EQ(config_get((d / "config").c_str(), "B", value).what, absent);
    EXPECT_STREQ(value.data(), "keep");

    std::string missing = d / "missing";
    const config_result r = config_get(missing.c_str(), "A", value);
    EXPECT_EQ(r.what, outcome::unopened);
    EXPECT_EQ(r.err, ENOENT);
    EXPECT_STREQ(value.data(), "keep");
}

TEST(config_get, a_value_never_outgrows_a_small_buffer)
{
    temp_dir d;
    d.put("config", "A=" + std::string(200, 'x') + "\n");
    std::array<char, 16> value;
    value.fill('#');
    EXPECT_EQ(config_get((d / "config").c_str(), "A", std::span<char>(value.data(), 8)).what, found);
    EXPECT_STREQ(value.data(), "xxxxxxx");
    EXPECT_EQ(value[8], '#');
}

} // namespace
