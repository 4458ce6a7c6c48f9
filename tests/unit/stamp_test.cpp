// The uptime and local date-time stamps of the system report.
#include "stamp.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <limits>
#include <regex>
#include <string>

namespace {

TEST(uptime_stamp, splits_seconds_into_days_hours_minutes_and_seconds)
{
    struct row {
        unsigned long seconds;
        const char *text;
    };
    const row rows[] = {
        {0, "00 00:00:00"},
        {59, "00 00:00:59"},
        {60, "00 00:01:00"},
        {3599, "00 00:59:59"},
        {3600, "00 01:00:00"},
        {86399, "00 23:59:59"},
        {86400, "01 00:00:00"},
        {3 * 86400 + 4 * 3600 + 5 * 60 + 6, "03 04:05:06"},
        {99 * 86400 + 86399, "99 23:59:59"},
        {100 * 86400, "100 00:00:00"},
        {ULONG_MAX, ULONG_MAX == 0xffffffffUL ? "49710 06:28:15" : "213503982334601 07:00:15"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.seconds);
        EXPECT_STREQ(uptime_stamp(r.seconds).text, r.text);
    }
}

// Runs with TZ set for the test and puts the old one back.
class with_tz {
    std::string old_;
    bool had_;

public:
    explicit with_tz(const char *tz)
    {
        const char *o = std::getenv("TZ");
        had_ = o != nullptr;
        old_ = o ? o : "";
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~with_tz()
    {
        if (had_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
};

TEST(date_time_stamp, prints_full_year_month_from_one_and_local_time)
{
    {
        with_tz utc("UTC0");
        EXPECT_STREQ(date_time_stamp(1483228800).text, "2017-01-01 00:00:00");
        EXPECT_STREQ(date_time_stamp(1614762307).text, "2021-03-03 09:05:07");
        EXPECT_STREQ(date_time_stamp(1483228799).text, "2016-12-31 23:59:59");
    }
    {
        // Two hours east of UTC: 22:30 UTC is half past midnight next day.
        with_tz east("XYZ-2");
        EXPECT_STREQ(date_time_stamp(1614810600).text, "2021-03-04 00:30:00");
    }
}

TEST(date_time_stamp, an_unreadable_clock_gives_a_text_of_the_same_shape)
{
    EXPECT_STREQ(date_time_stamp(static_cast<time_t>(-1)).text, "0000-00-00 00:00:00");
    if (sizeof(time_t) > 4) {
        // Years beyond what the breakdown can hold.
        EXPECT_STREQ(date_time_stamp(std::numeric_limits<time_t>::max()).text,
                     "0000-00-00 00:00:00");
    }
}

TEST(get_uptime, reads_the_system_clocks_in_the_stamp_shapes)
{
    EXPECT_TRUE(std::regex_match(get_uptime().text, std::regex(R"(\d{2,} \d\d:\d\d:\d\d)")));
    EXPECT_TRUE(std::regex_match(get_date_time().text,
                                 std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
    EXPECT_STRNE(get_date_time().text, date_time_unknown);
}

} // namespace
