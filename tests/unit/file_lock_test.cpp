// The lock beside the working configuration: a bounded wait, one holder.
#include "file_lock.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <optional>
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
// the later replacement displaces the good file the first one put in place,
// and must not count before that one is free, or both would hold "the" lock.
TEST(file_lock, a_replacement_waits_until_the_good_lock_file_it_displaced_is_free)
{
    temp_dir d;
    const std::string path = d / "config", lock_path = path + ".lock";
    d.put("config.lock", "");
    ASSERT_EQ(::chmod(lock_path.c_str(), 0644), 0);  // others could open and hold it
    std::optional<file_lock> first(std::in_place, path.c_str());
    ASSERT_TRUE(first->held());
    struct stat held;
    ASSERT_EQ(::stat(lock_path.c_str(), &held), 0);
    EXPECT_EQ(held.st_mode & 07777, 0600u);

    // What the second run does after judging the old file bad: while the
    // first holds on, the first's file stays in place.
    EXPECT_EQ(replace_lock_file(lock_path.c_str(), 100), -ETIMEDOUT);
    struct stat now;
    ASSERT_EQ(::stat(lock_path.c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, held.st_ino);
    EXPECT_FALSE(file_lock(path.c_str(), 100).held());

    // Once the first is done, the replacement holds the lock in place.
    first.reset();
    unique_fd second(replace_lock_file(lock_path.c_str(), 100));
    ASSERT_TRUE(second);
    struct stat ours;
    ASSERT_EQ(::fstat(second.get(), &ours), 0);
    ASSERT_EQ(::stat(lock_path.c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, ours.st_ino);
    EXPECT_FALSE(file_lock(path.c_str(), 100).held());
    EXPECT_EQ(d.names(), (std::vector<std::string>{"config.lock"}));
}
