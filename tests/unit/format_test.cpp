// The programs' formatter beside the C library's: the same bytes for every
// conversion the programs use, for each message they print, and the same
// cut into a buffer too small.
#include "format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <cerrno>
#include <cstring>
#include <unistd.h>

// Both programs' texts, each in a namespace of its own (some names are
// the same in both).
namespace confstore_texts {
#include "../../confstore/messages.h"
}
namespace confexport_texts {
#include "../../confexport/messages.h"
}

namespace {

#pragma GCC diagnostic ignored "-Wformat-nonliteral"

// Formats with both and compares the texts and the lengths they report.
template <class... A> void same(format_text<A...> fmt, A... args)
{
    SCOPED_TRACE(fmt.text);
    char want[600], got[600];
    const int n = std::snprintf(want, sizeof want, fmt.text, args...);
    ASSERT_GE(n, 0);
    EXPECT_EQ(format_into(got, fmt, args...), static_cast<size_t>(n));
    EXPECT_STREQ(got, want);
    // Cut to every shorter size, as snprintf cuts.
    for (size_t size = 0; size < static_cast<size_t>(n) + 1 && size < 40; ++size) {
        char cut_want[40], cut_got[40];
        std::memset(cut_want, 'x', sizeof cut_want);
        std::memset(cut_got, 'x', sizeof cut_got);
        std::snprintf(cut_want, size, fmt.text, args...);
        EXPECT_EQ(format_into(std::span<char>(cut_got, size), fmt, args...), static_cast<size_t>(n));
        EXPECT_EQ(std::string(cut_got, sizeof cut_got), std::string(cut_want, sizeof cut_want));
    }
}

TEST(format_into, every_conversion_prints_as_printf_does)
{
    same<>("plain text, no conversion");
    same<>("100%% sure");
    same("%s|%s|", "", "a string");
    same("[%.*s]", 3, "abcdef");
    same("[%.*s]", 0, "abc");
    same("[%.*s]", -1, "abc");  // a negative precision is none
    const char unterminated[2] = {'o', 'k'};
    same("[%.*s]", 2, static_cast<const char *>(unterminated));
    for (int v : {0, 1, -1, 7, 10, -99, 123456, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(v);
        same("%d|%02d|%05d|%.3d|%.0d|%3d", v, v, v, v, v, v);
    }
    for (long v : {0L, 59L, -5L, 2021L, LONG_MAX, LONG_MIN})
        same("%ld|%02ld|%ld", v, v, v);
    for (unsigned v : {0u, 5u, 255u, 0xabcdefu, UINT_MAX})
        same("%u|%x|%.2x|%06x|%02u|%.0u", v, v, v, v, v, v);
    for (unsigned long v : {0UL, 86399UL, ULONG_MAX})
        same("%lu|%02lu|%lx", v, v, v);
    for (size_t v : {size_t{0}, size_t{65536}, SIZE_MAX})
        same("%zu|%zx", v, v);
}

TEST(format_into, every_message_of_the_programs_prints_as_printf_does)
{
    using namespace confstore_texts;
    const char *p = "/tmp/.current_config", *r = "No such file or directory";
    same(msg_open_failed_fmt, p, r);
    same(msg_refused_fmt, p, "a file of another user");
    same(msg_lock_unusable_fmt, p, r);
    same(msg_set_failed_fmt, p, r);
    same(msg_patch_failed_fmt, p, "TMP", r);
    same(msg_assertion_fmt, "confstore", 25, "l_trim", "szInput != ((void *)0)");
    same(msg_commit_same_fmt, 61, 61);
    same(msg_commit_different_fmt, 0, -2);
    same(msg_flash_failed_fmt, "open", "/dev/mtdblock4", r, "");
    same(msg_flash_failed_fmt, "read", "/dev/mtdblock4", r, flash_tails[0]);
    same(msg_flash_unreadable_fmt, "/dev/mtdblock4", r, "/etc/ath/default_config");
    same(msg_flash_write_fmt, "/dev/mtdblock4", "why", flash_tails[1]);
    same(msg_flash_op_fmt, "erasing", size_t{196608}, r);
    same(msg_flash_not_erased_fmt, size_t{65536});
    same(msg_flash_not_programmed_fmt, size_t{0});
    same(msg_flash_from_backup_fmt, "/dev/mtdblock4");
    same(confexport_texts::msg_secret_fmt, 12, "PSK_KEY=abc\nrest");
    same(confexport_texts::msg_reason_fmt, "reading", p, r);
}

TEST(put_format, writes_as_its_mode_says_and_keeps_the_first_failure)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        out_buffer each(fds[1], out_buffer::mode::each), lines(fds[1], out_buffer::mode::lines),
            full(fds[1]);
        put_format(full, "%s", "held ");
        put_format(each, "%s %d\n", "at once", 1);
        put_format(lines, "%s", "no line end ");
        put_format(lines, "then one%s", "\n");
        EXPECT_EQ(full.flush(), 0);
    }
    char got[64] = {};
    ASSERT_GT(::read(fds[0], got, sizeof got - 1), 0);
    EXPECT_STREQ(got, "at once 1\nno line end then one\nheld ");
    ::close(fds[0]);
    out_buffer broken(fds[1]);  // no reader: every write fails
    ::close(fds[1]);
    put_format(broken, "%s", "lost");
    EXPECT_EQ(broken.flush(), -EBADF);
    EXPECT_EQ(broken.flush(), -EBADF);
}

} // namespace
