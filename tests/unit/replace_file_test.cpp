// The mode of a file replaced whole, under any umask.
#include "replace_file.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <string_view>
#include <sys/stat.h>

// A board may start the programs under umask 0: a new file still gets no
// write bit for group or others, and a stricter umask still takes bits away.
TEST(replace_file, a_new_file_is_written_by_its_owner_alone_under_any_umask)
{
    struct {
        mode_t mask, mode;
    } cases[] = {{0, 0644}, {002, 0644}, {022, 0644}, {027, 0640}, {077, 0600}};
    temp_dir d;
    const std::string path = d / "file";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mask);
        mode_t old_mask = ::umask(c.mask);
        int rc = replace_file(path.c_str(), std::string_view("A=1\n"));
        ::umask(old_mask);
        ASSERT_EQ(rc, 0);
        struct stat st;
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
    }
}
