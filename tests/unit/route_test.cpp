// Finding an interface's gateway or point-to-point peer in routing-table text.
#include "route.h"

#include "scanned_route.h"
#include "unique_fd.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/mman.h>

namespace {

constexpr char header[] =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

// A line as the kernel writes it: tab-separated hexadecimal numbers.
std::string route(const char *iface, const std::string &dest, const std::string &gw,
                  const char *flags)
{
    return std::string(iface) + "\t" + dest + "\t" + gw + "\t" + flags +
           "\t0\t0\t0\t00000000\t0\t0\t0\n";
}

// An address column as the kernel of this host prints it: the address as it
// lies in memory, read as a number.
std::string hex(const char *dotted)
{
    in_addr a;
    EXPECT_EQ(inet_pton(AF_INET, dotted, &a), 1);
    char text[9];
    std::snprintf(text, sizeof text, "%08X", a.s_addr);
    return text;
}

struct answer {
    bool accepted;
    std::string text;
};

answer gateway_in(const std::string &table, const char *ifname, int is_ppp)
{
    char out[addr_text_size];
    std::memset(out, 'x', sizeof out);
    unique_fd f(::memfd_create("routes", MFD_CLOEXEC));
    EXPECT_EQ(::pwrite(f.get(), table.data(), table.size(), 0), static_cast<ssize_t>(table.size()));
    bool accepted = gateway_from_routes(f.get(), out, ifname, is_ppp);
    return {accepted, out};
}

TEST(gateway_from_routes, default_route_mode_takes_the_first_default_route_of_the_interface)
{
    struct row {
        const char *what;
        std::string routes;
        const char *ifname;
        bool accepted;
        const char *text;
    };
    const row rows[] = {
        {"only the header", "", "ath0", false, "0.0.0.0"},
        {"the default route", route("ath0", hex("192.168.0.0"), "00000000", "0001") +
                                  route("ath0", "00000000", hex("192.168.1.1"), "0003"),
         "ath0", true, "192.168.1.1"},
        {"two default routes: the first wins",
         route("ath0", "00000000", hex("192.168.10.254"), "0003") +
             route("ath0", "00000000", hex("192.168.1.1"), "0003"),
         "ath0", true, "192.168.10.254"},
        {"the only default route goes elsewhere", route("eth0", "00000000", hex("192.168.1.1"), "0003"),
         "ath0", false, "0.0.0.0"},
        {"a default route straight over the link",
         route("ath0", "00000000", "00000000", "0001") +
             route("ath0", "00000000", hex("192.168.1.1"), "0003"),
         "ath0", true, "0.0.0.0"},
        {"flags are not looked at", route("ath0", "00000000", hex("192.168.1.1"), "0000"), "ath0", true,
         "192.168.1.1"},
        {"names match whole", route("ath01", "00000000", hex("192.168.1.1"), "0003") +
                                  route("ath", "00000000", hex("192.168.1.1"), "0003"),
         "ath0", false, "0.0.0.0"},
        {"names match case", route("ATH0", "00000000", hex("192.168.1.1"), "0003"), "ath0", false,
         "0.0.0.0"},
        {"a column that is not hexadecimal", route("ath0", "00000000", "zz01A8C0", "0003") +
                                                 route("ath0", "00000000", hex("192.168.1.2"), "0003"),
         "ath0", true, "192.168.1.2"},
        {"a line cut short", "ath0\t00000000\n" + route("ath0", "00000000", hex("192.168.1.3"), "0003"),
         "ath0", true, "192.168.1.3"},
        {"a last line without its line end", "ath0\t00000000\t" + hex("192.168.1.4") + "\t0003", "ath0", true,
         "192.168.1.4"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        answer got = gateway_in(header + r.routes, r.ifname, 0);
        EXPECT_EQ(got.accepted, r.accepted);
        EXPECT_EQ(got.text, r.text);
    }
}

TEST(gateway_from_routes, point_to_point_mode_takes_the_peer_of_a_host_route)
{
    struct row {
        const char *what;
        std::string routes;
        const char *text;
    };
    const row rows[] = {
        {"a host route, flags 0005", route("ppp0", hex("10.64.0.254"), "00000000", "0005"),
         "10.64.0.254"},
        {"up, gateway and host: 0007", route("ppp0", hex("10.64.0.254"), hex("10.64.0.1"), "0007"), "0.0.0.0"},
        {"up only: 0001", route("ppp0", hex("10.64.0.0"), "00000000", "0001"), "0.0.0.0"},
        {"the default route is not a host route",
         route("ppp0", "00000000", hex("10.64.0.254"), "0003"), "0.0.0.0"},
        {"another interface's host route", route("ppp01", hex("10.64.0.254"), "00000000", "0005"),
         "0.0.0.0"},
        {"the first host route wins", route("ppp0", hex("10.64.0.0"), "00000000", "0001") +
                                          route("ppp0", hex("10.64.0.254"), "00000000", "0005") +
                                          route("ppp0", hex("10.64.0.253"), "00000000", "0005"),
         "10.64.0.254"},
        {"flags missing", "ppp0\t" + hex("10.64.0.254") + "\t00000000\n", "0.0.0.0"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(gateway_in(header + r.routes, "ppp0", 1).text, r.text);
    }
}

TEST(gateway_from_routes, addresses_come_out_right_on_either_byte_order)
{
    // The kernel prints the address as it lies in memory, read as a number.
    const uint32_t little = 0x0101A8C0, big = 0xC0A80101;
    const bool host_is_little = htonl(1) != 1;
    char column[9];
    std::snprintf(column, sizeof column, "%08X", host_is_little ? little : big);
    answer got = gateway_in(header + route("ath0", "00000000", column, "0003"), "ath0", 0);
    EXPECT_EQ(got.text, "192.168.1.1");
}

TEST(gateway_from_routes, overlong_lines_are_skipped_whole)
{
    // The tail of an overlong line must not pass for a route of its own.
    std::string tail = route("ath0", "00000000", hex("192.168.1.9"), "0003");
    std::string long_line = "eth0\t" + std::string(300 - tail.size(), ' ') + tail;
    EXPECT_EQ(gateway_in(header + long_line, "ath0", 0).text, "0.0.0.0");
    // Nor the tail of an overlong header.
    std::string long_header = std::string(300 - tail.size(), 'H') + tail;
    EXPECT_EQ(gateway_in(long_header, "ath0", 0).text, "0.0.0.0");
    // A name as long as the line cannot overflow anything and matches nothing.
    std::string long_name = std::string(250, 'a') + "\t00000000\t" + hex("192.168.1.1") + "\t0003\n";
    EXPECT_EQ(gateway_in(header + long_name, "ath0", 0).text, "0.0.0.0");
}

TEST(route_line_answer, accepts_the_lines_the_scanner_accepts_with_the_same_answer)
{
    const char *const lines[] = {
        "ath0\t00000000\t0101A8C0\t0003",
        "  ath0   00000000 0101A8C0 0003",       // blanks, not tabs, and a leading run
        "ath0\v00000000\f0101a8c0\r0003\n",    // any white space; lower case
        "ath0\t0\t1",                          // short numbers
        "ath0\t0x0\t0X1F\t5",                  // with 0x
        "ath0\t0x\t5",                         // 0x alone reads as 0
        "ath0\t0x 5\t5",
        "ath0\t-0\t+5\t5",                     // signs
        "ath0\t00000000\t-1\t-5",
        "ath0\t000000000000000000000000\t00000000000000000C0A80101\t0005",  // leading zeros
        "ath0\t00000000\t0101A8C0zz\t0003",     // junk behind the last column read
        "ath0\t00000000zz\t0101A8C0\t0003",     // junk behind one that is not
        "ath0\t00000000\t\t\t",                // a column missing
        "ath0\t0000\00000\t0101A8C0",           // a zero byte ends the line
        "ath0",
        "",
        "\t\t",
        "ppp0\t0101400A\t00000000\t0005",
        "ppp0\t0101400A\t00000000\t05",
        "ppp0\t0101400A\t00000000\t0005junk",
        "ppp0\t0101400A\t00000000\t0x5",
        "ppp0\t0101400A\t00000000\t0007",
        "ppp0\t0101400A\t00000000",
        "ppp01\t0101400A\t00000000\t0005",
        "ppp\t0101400A\t00000000\t0005",
    };
    for (const char *line : lines) {
        for (const char *ifname : {"ath0", "ppp0"}) {
            for (int is_ppp : {0, 1}) {
                SCOPED_TRACE(std::string(line) + " / " + ifname + (is_ppp ? " ppp" : ""));
                in_addr want{}, got{};
                const bool accepted = scanned_route_answer(line, ifname, is_ppp, want);
                EXPECT_EQ(route_line_answer(line, ifname, is_ppp, got), accepted);
                if (accepted)
                    EXPECT_EQ(got.s_addr, want.s_addr);
            }
        }
    }
}

TEST(route_line_answer, a_column_of_more_than_32_bits_is_no_address)
{
    // The kernel prints eight digits; the scanner kept what the C library
    // made of more (cut on 32 bits by one, the largest number by another).
    in_addr a{};
    EXPECT_FALSE(route_line_answer("ath0\t100000000\t0101A8C0", "ath0", 0, a));
    EXPECT_FALSE(route_line_answer("ath0\t00000000\t1C0A80101", "ath0", 0, a));
    EXPECT_FALSE(route_line_answer("ppp0\t0101400A\t0\t100000005", "ppp0", 1, a));
    EXPECT_TRUE(route_line_answer("ath0\t00000000\tFFFFFFFF", "ath0", 0, a));
    EXPECT_EQ(a.s_addr, 0xFFFFFFFFu);
}

TEST(get_gateway, reads_the_kernel_table)
{
    // No route uses an interface of this name on any machine.
    char out[addr_text_size] = "junk";
    EXPECT_EQ(get_gateway(out, "nosuch0", 0), 0);
    EXPECT_STREQ(out, "0.0.0.0");
    std::strcpy(out, "junk");
    EXPECT_EQ(get_gateway(out, "nosuch0", 1), 0);
    EXPECT_STREQ(out, "0.0.0.0");
}

} // namespace
