// Conversion of single configuration lines into lines of the shell copy.
#include "confexport.h"

#include "out_buffer.h"
#include "unique_fd.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

struct converted {
    export_step step;
    std::string text;
};

// Runs one line through the converter and collects what it wrote.
converted convert(const std::string &line)
{
    unique_fd fd(::memfd_create("shell-line", MFD_CLOEXEC));
    EXPECT_TRUE(fd);
    out_buffer out(fd.get());
    export_step step = export_line(line, out);
    EXPECT_EQ(out.flush(), 0);
    std::string text(static_cast<size_t>(::lseek(fd.get(), 0, SEEK_END)), '\0');
    EXPECT_EQ(::pread(fd.get(), text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    return {step, text};
}

struct line_case {
    std::string in, out;
};

void expect_written(const std::vector<line_case> &cases)
{
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        converted r = convert(c.in);
        EXPECT_EQ(r.step, export_step::written);
        EXPECT_EQ(r.text, c.out);
    }
}

void expect_nothing_written(const std::vector<std::string> &lines, export_step step)
{
    for (const auto &line : lines) {
        SCOPED_TRACE(testing::PrintToString(line));
        converted r = convert(line);
        EXPECT_EQ(r.step, step);
        EXPECT_EQ(r.text, "");
    }
}

} // namespace

TEST(export_line, plain_values_are_copied_unchanged)
{
    expect_written({
        {"WAN_MODE=wisp\n", "WAN_MODE=wisp\n"},
        {"PPPOE_USER=\n", "PPPOE_USER=\n"},
        {"A=x=y\n", "A=x=y\n"},
        {"LAN_IPADDR=192.168.1.1\n", "LAN_IPADDR=192.168.1.1\n"},
        {"U=a-b_c.d/e:f,g@h%i+j\n", "U=a-b_c.d/e:f,g@h%i+j\n"},
        {"AP_SSID=Caf\xc3\xa9\n", "AP_SSID=Caf\xc3\xa9\n"},
        {"_x9=-1\n", "_x9=-1\n"},
    });
}

TEST(export_line, values_with_blanks_are_quoted_as_always)
{
    expect_written({
        {"AP_SSID=My Home AP\n", "AP_SSID='My Home AP'\n"},
        {"X= \n", "X=' '\n"},
        {"A=x y=z\n", "A='x y=z'\n"},
        {"A=  lead and trail  \n", "A='  lead and trail  '\n"},
    });
}

TEST(export_line, values_a_shell_would_act_on_are_quoted)
{
    expect_written({
        {"A=a\tb\n", "A='a\tb'\n"},
        {"A=it's here\n", "A='it'\\''s here'\n"},
        {"A='\n", "A=''\\'''\n"},
        {"A=$(reboot)\n", "A='$(reboot)'\n"},
        {"A=a;reboot\n", "A='a;reboot'\n"},
        {"A=`reboot`\n", "A='`reboot`'\n"},
        {"A=a\\b\n", "A='a\\b'\n"},
        {"A=~\n", "A='~'\n"},
        {"A=*\n", "A='*'\n"},
        {"A=x\r\n", "A='x\r'\n"},
        {"A=\"q\"\n", "A='\"q\"'\n"},
    });
}

TEST(export_line, only_the_listed_bytes_stay_unquoted)
{
    // Every byte but the newline, each in one of the two lists.
    std::string plain = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_./:,@%+=-";
    for (int c = 0x80; c < 0x100; ++c)
        plain += static_cast<char>(c);
    std::string quoted = " !\"#$&'()*;<>?[\\]^`{|}~\x7f";
    for (char c = 1; c < 0x20; ++c)
        if (c != '\n')
            quoted += c;
    ASSERT_EQ(plain.size() + quoted.size(), 254u);

    EXPECT_EQ(convert("V=" + plain + "\n").text, "V=" + plain + "\n");
    for (char c : quoted) {
        SCOPED_TRACE(static_cast<int>(c));
        const std::string v(1, c);
        EXPECT_EQ(convert("V=" + v + "\n").text, "V='" + (c == '\'' ? "'\\''" : v) + "'\n");
    }
}

TEST(export_line, lines_a_shell_would_run_as_commands_are_left_out)
{
    expect_nothing_written({"AP_SSID\n", "=x\n", "=\n", "1A=2\n", " A=1\n", "A B=1\n",
                            "A-B=1\n", "a.b=1\n", "#A=1\n", "$(reboot)=1\n", "reboot\n"},
                           export_step::left_out);
}

TEST(export_line, names_the_shells_treat_specially_are_left_out)
{
    expect_nothing_written({"OPTIND=zz\n", "UID=0\n", "PS4=$(reboot)\n", "IFS=x\n",
                            "PATH=/tmp\n", "ENV=/tmp/x\n", "PPID=1\n", "BASH_ENV=/tmp/x\n"},
                           export_step::left_out);
    EXPECT_EQ(convert("PS5=1\n").text, "PS5=1\n");  // only the names themselves
}

TEST(export_line, the_key_line_is_kept_out_and_reported)
{
    expect_nothing_written({"PSK_KEY=secret\n", "PSK_KEY=\n", "PSK_KEY=a b\n", "PSK_KEY=x"},
                           export_step::secret);
    expect_written({
        {"WPA_PSK_KEY=x\n", "WPA_PSK_KEY=x\n"},
        {"psk_key=x\n", "psk_key=x\n"},
        {"PSK_KEYS=x\n", "PSK_KEYS=x\n"},
    });
    EXPECT_EQ(convert(" PSK_KEY=x\n").step, export_step::left_out);
}

TEST(export_line, a_line_shorter_than_two_characters_ends_the_text)
{
    expect_nothing_written({"\n", "A", "", std::string("\0A=1\n", 5), std::string(40, '\0')},
                           export_step::end);
    EXPECT_EQ(convert(std::string("A\0=1\n", 5)).step, export_step::end);
}

TEST(export_line, a_line_without_newline_keeps_its_whole_value)
{
    expect_written({
        {"E=last", "E=last\n"},
        {"B=x y", "B='x y'\n"},
        {"B=", "B=\n"},
    });
}

TEST(export_line, a_zero_byte_ends_the_line_text)
{
    expect_written({
        {std::string("A=x\0yz\n", 7), "A=x\n"},
        {std::string("A=x y\0z\n", 8), "A='x y'\n"},
    });
    EXPECT_EQ(convert(std::string("PSK_KEY=a\0b\n", 12)).step, export_step::secret);
}

TEST(export_line, long_lines_are_converted_whole)
{
    std::string value(3000, 'v');
    value[1000] = ' ';
    value[2999] = '\'';
    std::string quoted = "'" + value.substr(0, 2999) + "'\\'''";
    expect_written({
        {"LONG=" + value + "\n", "LONG=" + quoted + "\n"},
        {"LONG=" + std::string(2000, 'w') + "\n", "LONG=" + std::string(2000, 'w') + "\n"},
    });
}

TEST(line_text, stops_at_the_first_zero_byte_or_after_the_first_newline)
{
    EXPECT_EQ(line_text(std::string_view("ab\0cd", 5)), "ab");
    EXPECT_EQ(line_text("abc\n"), "abc\n");
    EXPECT_EQ(line_text(std::string_view("\0", 1)), "");
    EXPECT_EQ(line_text("A=1\nB=2\n"), "A=1\n");
    EXPECT_EQ(convert("A=1\n$(reboot)\n").text, "A=1\n");
}
