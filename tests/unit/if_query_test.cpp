// Interface queries against the kernel, on the loopback interface that every
// network namespace has, and on names that do not exist.
#include "if_query.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <net/if.h>
#include <net/if_arp.h>
#include <string>

namespace {

// Queries that cannot be answered: absent or unfit names, and a query
// without a socket (one that could not be opened).
struct unanswered {
    int sock;
    const char *name;
};
constexpr int no_socket = -1;
const std::string too_long(IFNAMSIZ, 'l');

std::string trace(const unanswered &c)
{
    return std::string(c.name) + " on " + std::to_string(c.sock);
}

TEST(get_if_ipaddr, loopback_reports_its_address_and_netmask)
{
    query_socket s;
    char addr[addr_text_size], mask[addr_text_size];
    EXPECT_EQ(get_if_ipaddr(s.get(), "lo", addr), 1);
    EXPECT_EQ(get_if_netmask(s.get(), "lo", mask), 1);
    EXPECT_STREQ(addr, "127.0.0.1");
    EXPECT_STREQ(mask, "255.0.0.0");
}

TEST(get_if_ipaddr, absent_or_unfit_names_give_no_address_over_earlier_answers)
{
    query_socket s;
    const unanswered cases[] = {{s.get(), "nosuch0"}, {s.get(), ""}, {s.get(), too_long.c_str()}, {no_socket, "lo"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(trace(c));
        char addr[addr_text_size], mask[addr_text_size];
        ASSERT_EQ(get_if_ipaddr(s.get(), "lo", addr), 1);
        ASSERT_EQ(get_if_netmask(s.get(), "lo", mask), 1);
        EXPECT_EQ(get_if_ipaddr(c.sock, c.name, addr), 0);
        EXPECT_EQ(get_if_netmask(c.sock, c.name, mask), 0);
        EXPECT_STREQ(addr, "0.0.0.0");
        EXPECT_STREQ(mask, "0.0.0.0");
    }
}

TEST(query_socket, opens_one_socket_at_first_use_and_closes_it_when_gone)
{
    auto open_fds = [] {
        std::string list;
        for (int fd = 0; fd < 64; fd++)
            list += ::fcntl(fd, F_GETFD) < 0 ? '.' : 'o';
        return list;
    };
    const std::string before = open_fds();
    {
        query_socket queries;
        EXPECT_EQ(open_fds(), before);
        const int fd = queries.get();
        ASSERT_GE(fd, 0);
        const std::string opened = open_fds();
        EXPECT_NE(opened, before);
        char addr[addr_text_size];
        EXPECT_EQ(get_if_ipaddr(fd, "lo", addr), 1);
        EXPECT_EQ(queries.get(), fd);
        EXPECT_EQ(open_fds(), opened);
    }
    EXPECT_EQ(open_fds(), before);
}

TEST(get_if_hwaddr, reports_presence_and_leaves_the_record_alone_when_absent)
{
    query_socket s;
    struct sockaddr rec;
    std::memset(&rec, 0x5a, sizeof rec);
    EXPECT_EQ(get_if_hwaddr(s.get(), "lo", &rec), 1);
    EXPECT_EQ(rec.sa_family, ARPHRD_LOOPBACK);

    std::memset(&rec, 0x5a, sizeof rec);
    const unanswered cases[] = {{s.get(), "nosuch0"}, {s.get(), too_long.c_str()}, {no_socket, "lo"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(trace(c));
        EXPECT_EQ(get_if_hwaddr(c.sock, c.name, &rec), 0);
        const auto *bytes = reinterpret_cast<const unsigned char *>(&rec);
        for (size_t i = 0; i < sizeof rec; i++)
            ASSERT_EQ(bytes[i], 0x5a) << "byte " << i;
    }
}

// An interface of this machine with a real hardware address, if there is one.
std::string interface_with_mac(std::string &mac)
{
    std::string found;
    struct if_nameindex *all = if_nameindex();
    for (struct if_nameindex *i = all; all && i->if_name; i++) {
        std::ifstream in(std::string("/sys/class/net/") + i->if_name + "/address");
        std::string text;
        if (std::getline(in, text) && text.size() == 17 && text != "00:00:00:00:00:00") {
            found = i->if_name;
            mac = text;
            break;
        }
    }
    if_freenameindex(all);
    return found;
}

TEST(get_if_mac_text, gives_lower_case_colon_text_and_zeros_when_unreadable)
{
    query_socket s;
    char mac[mac_text_size];
    std::string expected;
    std::string name = interface_with_mac(expected);
    if (name.empty())
        GTEST_SKIP() << "no interface with a hardware address here";
    get_if_mac_text(s.get(), name.c_str(), mac);
    EXPECT_EQ(std::string(mac), expected) << name;

    // A failed read right after must not repeat that address.
    const unanswered cases[] = {{s.get(), "nosuch0"}, {s.get(), too_long.c_str()}, {no_socket, name.c_str()}};
    for (const auto &c : cases) {
        SCOPED_TRACE(trace(c));
        get_if_mac_text(s.get(), name.c_str(), mac);
        get_if_mac_text(c.sock, c.name, mac);
        EXPECT_STREQ(mac, "00:00:00:00:00:00");
    }
}

} // namespace
