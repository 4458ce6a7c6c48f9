// Patching other files with a setting's value.
#include "confstore.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct patch_result {
    std::string target, copy;
};

patch_result patch(const temp_dir &d, const std::string &text, const char *pattern,
                   const char *value)
{
    d.put("target.conf", text);
    EXPECT_EQ(patch_lines((d / "target.conf").c_str(), pattern, value).what, outcome::done);
    return {d.get("target.conf"), d.get("target.confTMP")};
}

TEST(patch_lines, replaces_every_line_holding_the_pattern)
{
    temp_dir d;
    struct row { const char *text, *pattern, *value, *after; };
    const row rows[] = {
        {"ssid=old\n# set ssid= here\nchannel=6\n", "ssid=", "Office",
         "ssid=Office\nssid=Office\nchannel=6\n"},
        {"ssid=old\nchannel=6\n", "ssid=", "", "ssid=\nchannel=6\n"},
        {"a\nb\n", "", "v", "v\nv\n"},
        {"a\nb", "b", "X", "a\nbX\n"},
        {"no match\n", "zz", "v", "no match\n"},
        {"", "a", "v", ""},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.text);
        patch_result got = patch(d, r.text, r.pattern, r.value);
        EXPECT_EQ(got.target, r.after);
        EXPECT_EQ(got.copy, r.after);
    }
}

TEST(patch_lines, judges_and_replaces_long_lines_whole)
{
    temp_dir d;
    // The pattern lies past the line's first piece, or across two pieces:
    // the whole line goes, no part of it left as a line of its own. A long
    // line without it is copied whole.
    const std::string first(300, 'a'), across = std::string(253, 'a') + "key=old\n";
    patch_result got = patch(d, first + "key=old\n" + across + first + "\nx\n", "key=", "new");
    EXPECT_EQ(got.target, "key=new\nkey=new\n" + first + "\nx\n");
    // What follows a zero byte is no text of the line (as every reader of
    // the device's text files takes it): a pattern there changes nothing.
    const std::string zero("a\0key=old\n", 10);
    EXPECT_EQ(patch(d, zero, "key=", "new").target, zero);
}

TEST(patch_lines, missing_target_leaves_only_an_empty_copy)
{
    temp_dir d;
    EXPECT_EQ(patch_lines((d / "absent").c_str(), "a", "b").what, outcome::done);
    EXPECT_NE(access((d / "absent").c_str(), F_OK), 0);
    EXPECT_EQ(access((d / "absentTMP").c_str(), F_OK), 0);
    EXPECT_EQ(d.get("absentTMP"), "");
}

TEST(patch_lines, a_file_it_cannot_replace_is_named_with_the_reason)
{
    temp_dir d;
    const std::string too_long = d / std::string(PATH_MAX, 'p'), no_dir = d / "none/f";
    struct row { const std::string &path; outcome what; int err; };
    const row rows[] = {
        {too_long, outcome::unreplaced, ENAMETOOLONG},
        {no_dir, outcome::tmp_unreplaced, ENOENT},
    };
    for (const row &r : rows) {
        const config_result got = patch_lines(r.path.c_str(), "a", "b");
        EXPECT_EQ(got.what, r.what);
        EXPECT_EQ(got.path, r.path.c_str());
        EXPECT_EQ(got.err, r.err);
    }
}

TEST(patch_lines, keeps_permissions_and_takes_paths_literally)
{
    temp_dir d;
    const std::string name = "we ird;$(touch pwned)'\".conf";
    // Run as root, the owner must be carried over too, and with it the
    // set-user-ID and set-group-ID bits that a change of owner clears.
    const bool root = geteuid() == 0;
    for (mode_t mode : {0600, 04755, 02750}) {
        SCOPED_TRACE(mode);
        d.put(name, "psk=old\n");
        if (root)
            ASSERT_EQ(chown((d / name).c_str(), 1234, 5678), 0);
        ASSERT_EQ(chmod((d / name).c_str(), mode), 0);
        EXPECT_EQ(patch_lines((d / name).c_str(), "psk=", "secret").what, outcome::done);
        EXPECT_EQ(d.get(name), "psk=secret\n");
        EXPECT_EQ(d.get(name + "TMP"), "psk=secret\n");
        EXPECT_NE(access((d / "pwned").c_str(), F_OK), 0);
        EXPECT_NE(access("pwned", F_OK), 0);
        for (const std::string &f : {name, name + "TMP"}) {
            struct stat st;
            ASSERT_EQ(stat((d / f).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, mode) << f;
            if (root) {
                EXPECT_EQ(st.st_uid, 1234u) << f;
                EXPECT_EQ(st.st_gid, 5678u) << f;
            }
        }
    }
}

} // namespace
