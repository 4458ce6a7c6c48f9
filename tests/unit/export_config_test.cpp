// The whole export over files in a scratch directory: reading, stopping,
// replacing and failing.
#include "confexport.h"

#include "out_buffer.h"
#include "temp_dir.h"
#include "unique_fd.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct export_run {
    int status;
    std::string notices;
};

struct scratch {
    temp_dir dir;
    std::string from = dir / "current_config", to = dir / "buffconfig";

    export_run run()
    {
        unique_fd text(::memfd_create("notices", MFD_CLOEXEC));
        out_buffer notices(text.get());
        int status = export_config(from.c_str(), to.c_str(), notices);
        EXPECT_EQ(notices.flush(), 0);
        char got[4096];
        ssize_t n = ::pread(text.get(), got, sizeof got, 0);
        EXPECT_GE(n, 0);
        return {status, std::string(got, n > 0 ? static_cast<size_t>(n) : 0)};
    }
};

const std::vector<std::string> both = {"buffconfig", "current_config"};

} // namespace

TEST(export_config, lines_of_any_length_are_converted_whole)
{
    for (size_t len : {509u, 510u, 511u, 512u, 1022u, 1023u, 5000u}) {
        SCOPED_TRACE(len);
        scratch s;
        std::string value(len - 3, 'x');  // "L=" + value + "\n" is len bytes
        value[len / 2] = ' ';
        s.dir.put(s.from, "A=1\nL=" + value + "\nB=2\nC=" + value);
        EXPECT_EQ(s.run().status, 0);
        EXPECT_EQ(s.dir.get(s.to), "A=1\nL='" + value + "'\nB=2\nC='" + value + "'\n");
    }
}

TEST(export_config, a_zero_byte_in_a_full_piece_ends_the_line_as_for_the_lookup)
{
    // The lookup reads B=two here (text_reader's agreement test).
    scratch s;
    s.dir.put(s.from, "A=x" + std::string(1, '\0') + std::string(251, 'p') + "B=two\n");
    EXPECT_EQ(s.run().status, 0);
    EXPECT_EQ(s.dir.get(s.to), "A=x\nB=two\n");
}

TEST(export_config, key_lines_are_announced_whole_and_left_out)
{
    scratch s;
    std::string long_key = "PSK_KEY=" + std::string(700, 'k') + "\n";
    s.dir.put(s.from, "PSK_KEY=one\nA=1\n" + long_key + "WPA_PSK_KEY=x\n");
    export_run r = s.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.notices, "\n---got PSK_KEY[PSK_KEY=one\n]-----\n\n---got PSK_KEY[" + long_key + "]-----\n");
    EXPECT_EQ(s.dir.get(s.to), "A=1\nWPA_PSK_KEY=x\n");
}

TEST(export_config, the_text_ends_at_an_empty_line_or_fill)
{
    const std::vector<std::string> texts = {
        "A=1\nB=x y\n\nC=3\n",
        "A=1\nB=x y\n" + std::string(600, '\0'),
        "A=1\nB=x y\n" + std::string(600, '\0') + "C=3\n",
        "A=1\nB=x y\nC",
    };
    for (const auto &text : texts) {
        SCOPED_TRACE(testing::PrintToString(text));
        scratch s;
        s.dir.put(s.from, text);
        EXPECT_EQ(s.run().status, 0);
        EXPECT_EQ(s.dir.get(s.to), "A=1\nB='x y'\n");
    }
}

TEST(export_config, lines_left_out_do_not_end_the_text)
{
    scratch s;
    s.dir.put(s.from, "noeq\nA=1\n=x\n1B=2\nC=$(reboot)\n");
    EXPECT_EQ(s.run().status, 0);
    EXPECT_EQ(s.dir.get(s.to), "A=1\nC='$(reboot)'\n");
}

TEST(export_config, a_missing_configuration_gives_an_empty_copy)
{
    scratch s;
    s.dir.put(s.to, "OLD=1\n");
    export_run r = s.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.notices, "");
    EXPECT_EQ(s.dir.names(), std::vector<std::string>{"buffconfig"});
    EXPECT_EQ(s.dir.get(s.to), "");
}

TEST(export_config, each_run_replaces_the_copy_whole)
{
    scratch s;
    s.dir.put(s.to, "STALE=1\nSTALE=2\nSTALE=3\nSTALE=4\n");
    s.dir.put(s.from, "A=1\n");
    ASSERT_EQ(s.run().status, 0);
    std::string first = s.dir.get(s.to);
    ASSERT_EQ(s.run().status, 0);
    EXPECT_EQ(first, "A=1\n");
    EXPECT_EQ(s.dir.get(s.to), first);
    EXPECT_EQ(s.dir.names(), both);
}

TEST(export_config, an_own_copy_keeps_its_permissions)
{
    scratch s;
    s.dir.put(s.from, "A=1\n");
    s.dir.put(s.to, "");
    ASSERT_EQ(::chmod(s.to.c_str(), 0600), 0);
    ASSERT_EQ(s.run().status, 0);
    struct stat st;
    ASSERT_EQ(::stat(s.to.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(export_config, a_link_in_place_of_the_copy_is_replaced_not_followed)
{
    scratch s;
    std::string victim = s.dir / "victim";
    s.dir.put(victim, "precious\n");
    ASSERT_EQ(::chmod(victim.c_str(), 0640), 0);
    ASSERT_EQ(::symlink(victim.c_str(), s.to.c_str()), 0);
    s.dir.put(s.from, "A=1\n");
    ASSERT_EQ(s.run().status, 0);
    EXPECT_EQ(s.dir.get(victim), "precious\n");
    struct stat st;
    ASSERT_EQ(::lstat(s.to.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(s.dir.get(s.to), "A=1\n");
}

TEST(export_config, a_copy_left_by_another_user_lends_it_nothing)
{
    scratch s;
    s.dir.put(s.from, "A=1\n");
    s.dir.put(s.to, "");
    ASSERT_EQ(::chown(s.to.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(s.to.c_str(), 0666), 0);
    mode_t old_mask = ::umask(022);
    int status = s.run().status;
    ::umask(old_mask);
    ASSERT_EQ(status, 0);
    struct stat st;
    ASSERT_EQ(::stat(s.to.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(s.dir.get(s.to), "A=1\n");
}

TEST(export_config, an_output_that_cannot_be_made_is_an_open_error)
{
    scratch s;
    s.dir.put(s.from, "PSK_KEY=k\nA=1\n");
    s.to = s.dir / "no-such-dir/buffconfig";
    export_run r = s.run();
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.notices, "open error");
    EXPECT_EQ(s.dir.names(), std::vector<std::string>{"current_config"});
}

TEST(export_config, an_unreadable_configuration_keeps_the_old_copy)
{
    scratch s;
    ASSERT_EQ(::mkdir(s.from.c_str(), 0755), 0);  // opens, but read() fails
    s.dir.put(s.to, "OLD=1\n");
    export_run r = s.run();
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.notices, "open error");
    EXPECT_EQ(s.dir.get(s.to), "OLD=1\n");
    EXPECT_EQ(s.dir.names(), both);
}

TEST(export_config, a_copy_that_cannot_be_renamed_into_place_is_an_open_error)
{
    scratch s;
    s.dir.put(s.from, "A=1\n");
    ASSERT_EQ(::mkdir(s.to.c_str(), 0755), 0);
    s.dir.put(s.to + "/inside", "x");  // a non-empty directory is never replaced
    export_run r = s.run();
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.notices, "open error");
    EXPECT_EQ(s.dir.get(s.to + "/inside"), "x");
    EXPECT_EQ(s.dir.names(), both);
}
