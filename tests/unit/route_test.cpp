// Finding an interface's gateway or point-to-point peer in routing-table text.
#include "route.h"

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
