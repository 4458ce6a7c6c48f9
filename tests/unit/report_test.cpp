// The report records and how their files are put in place.
#include "report.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <regex>
#include <string>
#include <sys/stat.h>

namespace {

std::string text(const record &r)
{
    return std::string(r.view());
}

TEST(report_records, join_fields_with_commas_and_end_with_one_line_end)
{
    EXPECT_EQ(text(radio_record("11NGHT20", "standard", "WPA", "Office", "6",
                                "00:03:7f:12:34:ab", "17")),
              "11NGHT20,standard,WPA,Office,6,00:03:7f:12:34:ab,17\n");
    EXPECT_EQ(text(wan_off_record()), "0\n");
    EXPECT_EQ(text(wan_absent_record()), "1,0.0.0.0,0.0.0.0,0.0.0.0,00:00:00:00:00:00\n");
    EXPECT_EQ(text(wan_record("10.64.0.1", "255.255.255.255", "10.64.0.254",
                              "00:03:7f:12:34:ab")),
              "1,10.64.0.1,255.255.255.255,10.64.0.254,00:03:7f:12:34:ab\n");
    EXPECT_EQ(text(lan_record("1", "192.168.1.1", "255.255.255.0", "00:03:7f:ab:cd:ef")),
              "1,192.168.1.1,255.255.255.0,00:03:7f:ab:cd:ef\n");
}

TEST(report_records, values_go_in_byte_for_byte)
{
    // Line ends of the values stay: the record spans several lines.
    EXPECT_EQ(text(radio_record("a\n", "b\n", "c\n", "d\n", "e\n", "00:00:00:00:00:00", "f\n")),
              "a\n,b\n,c\n,d\n,e\n,00:00:00:00:00:00,f\n\n");
    // Nothing is quoted, escaped or acted on; an empty value leaves an
    // empty field and a comma in a value makes one field more.
    EXPECT_EQ(text(lan_record("", "$(reboot)", "`id`", "\"; rm -rf /; echo \"\\")),
              ",$(reboot),`id`,\"; rm -rf /; echo \"\\\n");
    EXPECT_EQ(text(sysinfo_record("", "", "AP, lobby")).substr(0, 15), ",,AP, lobby,v1.");
}

TEST(report_records, system_record_carries_versions_and_build_stamp)
{
    std::string r = text(sysinfo_record("03 04:05:06", "2021-03-03 09:05:07", "Lobby AP"));
    EXPECT_TRUE(std::regex_match(
        r, std::regex("03 04:05:06,2021-03-03 09:05:07,Lobby AP,v1\\.3,v1\\.03\\.02,"
                      "[A-Z][a-z][a-z] [ 1-3][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\n")))
        << r;
}

TEST(report_records, the_longest_values_fit_whole)
{
    const std::string v31(31, 'a'), v63(63, 's');
    std::string r = text(radio_record(v31.c_str(), v31.c_str(), v31.c_str(), v63.c_str(),
                                      v31.c_str(), "00:00:00:00:00:00", v31.c_str()));
    EXPECT_EQ(r, v31 + "," + v31 + "," + v31 + "," + v63 + "," + v31 +
                     ",00:00:00:00:00:00," + v31 + "\n");
    // Beyond the record's room the text is cut but still ends the line.
    const std::string huge(600, 'h');
    r = text(lan_record(huge.c_str(), "", "", ""));
    EXPECT_EQ(r.size(), sizeof(record::text) - 1);
    EXPECT_EQ(r.back(), '\n');
}

std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> names;
    DIR *d = ::opendir(dir.c_str());
    // readdir64: 32-bit programs otherwise fail on 64-bit directory offsets.
    while (struct dirent64 *e = d ? ::readdir64(d) : nullptr) {
        if (e->d_name[0] != '.')
            names.push_back(e->d_name);
    }
    if (d)
        ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(write_report, replaces_the_file_whole_and_leaves_nothing_beside_it)
{
    temp_dir d;
    d.put("Wan.txt", "1,10.0.0.1,255.0.0.0,10.0.0.254,00:11:22:33:44:55\nold tail\n");
    EXPECT_EQ(write_report(d.path().c_str(), wan_report, wan_off_record()), 0);
    EXPECT_EQ(d.get("Wan.txt"), "0\n");
    EXPECT_EQ(write_report(d.path().c_str(), lan_report, lan_record("1", "a", "b", "c")), 0);
    EXPECT_EQ(d.get("Lan.txt"), "1,a,b,c\n");
    EXPECT_EQ(entries(d.path()), (std::vector<std::string>{"Lan.txt", "Wan.txt"}));
    struct stat st;
    ASSERT_EQ(::stat((d / "Lan.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644 & ~[] { mode_t m = ::umask(0); ::umask(m); return m; }());
}

TEST(write_report, a_directory_that_cannot_take_it_fails_without_a_trace)
{
    temp_dir d;
    EXPECT_EQ(write_report((d / "missing").c_str(), wan_report, wan_off_record()), -ENOENT);
    EXPECT_TRUE(entries(d.path()).empty());
}

} // namespace
