// The lock beside the working configuration: a bounded wait.
#include "file_lock.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

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
