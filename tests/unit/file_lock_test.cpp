// The lock beside the working configuration: a bounded wait, one holder.
#include "file_lock.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <sys/stat.h>
#include <vector>

TEST(file_lock, a_held_lock_is_given_up_on_at_the_bound)
{
    temp_dir d;
    const std::string path = d / "config";
    file_lock first(path.c_str());
    ASSERT_TRUE(first.held());
    auto t0 = std::chrono::steady_clock::now();
    file_lock second(path.c_str(), 200);
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_FALSE(second.held());
    EXPECT_EQ(second.error(), -ETIMEDOUT);
    EXPECT_GE(waited, std::chrono::milliseconds(200));
    EXPECT_LT(waited, std::chrono::seconds(2));
}

// Two runs may both find a lock file that is not good and both replace it:
// the later replacement must not displace the good file the first one put
// in place and holds, or both would hold "the" lock.
TEST(file_lock, a_replacement_never_displaces_a_good_lock_file)
{
    temp_dir d;
    const std::string path = d / "config", lock_path = path + ".lock";
    d.put("config.lock", "");
    ASSERT_EQ(::chmod(lock_path.c_str(), 0644), 0);  // others could open and hold it
    file_lock first(path.c_str());
    ASSERT_TRUE(first.held());
    struct stat held;
    ASSERT_EQ(::stat(lock_path.c_str(), &held), 0);
    EXPECT_EQ(held.st_mode & 07777, 0600u);

    // What the second run does after judging the old file bad.
    EXPECT_EQ(replace_lock_file(lock_path.c_str(), 100), -ETIMEDOUT);
    struct stat after;
    ASSERT_EQ(::stat(lock_path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, held.st_ino);
    file_lock second(path.c_str(), 100);
    EXPECT_FALSE(second.held());
    EXPECT_EQ(second.error(), -ETIMEDOUT);
    EXPECT_EQ(d.names(), (std::vector<std::string>{"config.lock"}));
}
