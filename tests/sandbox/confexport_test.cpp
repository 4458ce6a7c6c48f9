// confexport run on the device: the shell copy byte for byte, what a shell
// makes of it, and how the program ends.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

const std::string config = "/tmp/.current_config";
const std::string copy = "/tmp/buffconfig";

sandbox_result export_once(const std::string &text, const std::string &script = "confexport\n")
{
    sandbox d;
    d.files[config] = text;
    d.fetch = {copy};
    return d.run(script);
}

using setting = std::pair<std::string, std::string>;

// Puts the settings in the working configuration, exports, sources the shell
// copy and prints every variable back, each ended by a zero byte.
sandbox_result source_back(const std::vector<setting> &settings, std::vector<std::string> fetch = {})
{
    sandbox d;
    std::string script = "confexport > /dev/null || exit 9\n. /tmp/buffconfig || exit 8\nprintf '%s\\0'";
    for (const auto &[name, value] : settings) {
        d.files[config] += name + "=" + value + "\n";
        script += " \"$" + name + "\"";
    }
    d.files[config] += "\n";
    d.fetch = std::move(fetch);
    return d.run(script + "\n");
}

std::string zero_joined(const std::vector<setting> &settings)
{
    std::string all;
    for (const auto &s : settings)
        all += s.second + '\0';
    return all;
}

} // namespace

TEST(confexport, writes_each_kind_of_line_as_the_device_expects)
{
    sandbox_result r = export_once(
        "NAME=\nX= \nTAB=a\tb\nQ=it's here\nA=x=y\nB=x y=z\nPSK_KEY=changeme-1234\n"
        "WPA_PSK_KEY=k1\npsk_key=k2\nAP_SSID=My Home AP\nWAN_MODE=wisp\nnoeq\n=x\nLAST=tail end");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\n---got PSK_KEY[PSK_KEY=changeme-1234\n]-----\n");
    EXPECT_EQ(r.file(copy),
              "NAME=\nX=' '\nTAB='a\tb'\nQ='it'\\''s here'\nA=x=y\nB='x y=z'\n"
              "WPA_PSK_KEY=k1\npsk_key=k2\nAP_SSID='My Home AP'\nWAN_MODE=wisp\nLAST='tail end'\n");
}

TEST(confexport, stops_quietly_at_an_empty_line_or_fill)
{
    for (const std::string &rest : {std::string("\nC=3\n"), std::string(300, '\0') + "C=3\n"}) {
        sandbox_result r = export_once("A=1\nB=x y\n" + rest);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.file(copy), "A=1\nB='x y'\n");
    }
}

TEST(confexport, a_configuration_of_key_lines_only_gives_an_empty_copy)
{
    sandbox_result r = export_once("PSK_KEY=a\nPSK_KEY=b c\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\n---got PSK_KEY[PSK_KEY=a\n]-----\n\n---got PSK_KEY[PSK_KEY=b c\n]-----\n");
    EXPECT_EQ(r.file(copy), "");
}

TEST(confexport, without_a_working_configuration_the_copy_is_empty)
{
    sandbox d;
    d.fetch = {copy};
    sandbox_result r = d.run("echo OLD=1 > /tmp/buffconfig\nconfexport\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.exists(copy));
    EXPECT_EQ(r.file(copy), "");
}

TEST(confexport, runs_again_to_the_same_copy_and_ignores_arguments)
{
    sandbox_result r = export_once("A=1\nB=x y\n",
                                  "confexport && cp /tmp/buffconfig /tmp/first\n"
                                  "echo 'C=3' >> /tmp/.current_config\n"
                                  "confexport extra --help && cmp /tmp/first /tmp/buffconfig\n");
    EXPECT_EQ(r.status, 1);  // cmp: the second run saw the new line
    EXPECT_EQ(r.file(copy), "A=1\nB='x y'\nC=3\n");
    r = export_once("A=1\n", "confexport && cp /tmp/buffconfig /tmp/first && confexport x && "
                             "cmp /tmp/first /tmp/buffconfig\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.file(copy), "A=1\n");
}

TEST(confexport, an_output_it_cannot_make_is_an_open_error_with_status_255)
{
    sandbox_result r = export_once("PSK_KEY=k\nA=2\n",
                                  "echo A=1 > /tmp/buffconfig\n"
                                  "mount -o remount,ro /tmp || exit 99\n"
                                  "confexport\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "open error");
    EXPECT_EQ(r.file(copy), "A=1\n");
}

TEST(confexport, sourcing_the_copy_gives_back_hostile_values_and_runs_nothing)
{
    const std::vector<setting> settings = {
        {"Q1", "it's here"},          {"Q2", "'"},
        {"Q3", "''\\''"},             {"Q4", "\"double\" quoted"},
        {"C1", "$(touch /tmp/pwned1)"}, {"C2", "`touch /tmp/pwned2`"},
        {"C3", "a;touch /tmp/pwned3"}, {"C4", "a|touch /tmp/pwned4"},
        {"C5", "a&touch /tmp/pwned5"}, {"C6", "a>/tmp/pwned6"},
        {"C7", "';touch /tmp/pwned7;'"}, {"C8", "$(touch /tmp/pwned8"},
        {"T1", "a\tb"},               {"T2", "\tlead"},
        {"S1", "back\\slash\\"},      {"S2", "\\"},
        {"H1", "~"},                  {"H2", "~root/x"},
        {"G1", "*"},                  {"G2", "/etc/*"},
        {"U1", "Gr\xc3\xbc\xc3\x9f" "e \xe2\x98\x83"}, {"U2", "\x81\x82\x83\x84\x85\x86\x87\x88\xff"},
        {"B1", "   "},                {"B2", "  two  sides  "},
        {"V1", "$HOME ${HOME}"},      {"V2", "a$IFS b"},
        {"M1", "#not a comment"},     {"M2", "!x (sub) {b} [a]"},
        {"M3", "<in"},                {"M4", "cr\r"},
        {"M5", "x y=z"},              {"M6", "-n"},
        {"E1", ""},                   {"P1", "a-b_c.d/e:f,g@h%i+j="},
    };
    std::vector<std::string> traps;
    for (int i = 1; i <= 8; ++i)
        traps.push_back("/tmp/pwned" + std::to_string(i));
    sandbox_result r = source_back(settings, traps);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, zero_joined(settings));
    for (const auto &t : traps)
        EXPECT_FALSE(r.exists(t)) << t;
}

TEST(confexport, sourcing_the_copy_gives_back_random_values)
{
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int> byte(1, 255), len(0, 24), pick(0, 3);
    const std::string specials = "'\"\\`$;&|<>(){}[]*?~#! \t=%";
    std::vector<setting> settings;
    for (int i = 0; i < 300; ++i) {
        std::string v;
        for (int n = len(rng); n > 0; --n) {
            int c = pick(rng) == 0 ? specials[static_cast<size_t>(byte(rng)) % specials.size()] : byte(rng);
            v += static_cast<char>(c == '\n' ? ' ' : c);
        }
        settings.push_back({"R" + std::to_string(i), v});
    }
    sandbox_result r = source_back(settings);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, zero_joined(settings));
}

TEST(confexport, a_reader_never_finds_the_copy_half_written)
{
    std::string text;
    for (int i = 0; i < 4000; ++i)
        text += "SETTING_" + std::to_string(i) + "=value number " + std::to_string(i) + "\n";
    sandbox_result r = export_once(
        text,
        "confexport && cp /tmp/buffconfig /tmp/whole || exit 9\n"
        "( i=0; while [ $i -lt 60 ]; do confexport; i=$((i+1)); done; touch /tmp/done ) &\n"
        "bad=0; reads=0\n"
        "while [ ! -e /tmp/done ]; do\n"
        "  cmp -s /tmp/buffconfig /tmp/whole || bad=$((bad+1)); reads=$((reads+1))\n"
        "done\n"
        "wait\n"
        "echo \"$bad $reads\"; ls -a /tmp | grep -c buffconfig\n");
    ASSERT_EQ(r.status, 0);
    int bad = -1, reads = 0, names = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "%d %d\n%d", &bad, &reads, &names), 3) << r.out;
    EXPECT_EQ(bad, 0);
    EXPECT_GT(reads, 10);
    EXPECT_EQ(names, 1);  // no temporary file is left behind
}
