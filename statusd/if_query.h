// What the kernel knows of one network interface: whether it exists, its
// hardware address, its IPv4 address and netmask. Every query asks through
// the socket it is given (a query_socket's).
#pragma once

#include "unique_fd.h"

#include <cstddef>
#include <span>
#include <netinet/in.h>
#include <sys/socket.h>

// Dotted-quad text and its terminator; "0.0.0.0" stands for no address.
inline constexpr size_t addr_text_size = 16;
// Colon MAC text ("00:11:22:aa:bb:cc", 17 characters) with room to spare.
inline constexpr size_t mac_text_size = 32;
inline constexpr char no_addr_text[] = "0.0.0.0";
inline constexpr char no_mac_text[] = "00:00:00:00:00:00";

// The one socket of all of statusd's queries: it asks seven questions a
// cycle, and a socket each cost the device more than the questions.
class query_socket {
    unique_fd fd_;

public:
    // The socket, opened at the first call; -1 while it cannot be opened,
    // tried again at the next call (a query on -1 fails as on a lost socket).
    int get();
};

using addr_text = std::span<char, addr_text_size>;
using mac_text = std::span<char, mac_text_size>;

// The dotted-quad text of an IPv4 address.
void put_addr_text(const in_addr &addr, addr_text out);

// 1 when the interface exists and its hardware-address record (family and
// 14 bytes of address data) was copied to `hwaddr`; else 0 and `hwaddr` is
// left as it was.
int get_if_hwaddr(int sock, const char *ifname, struct sockaddr *hwaddr);

// 1 with the interface's IPv4 address (netmask) in `out`; else 0 with
// "0.0.0.0" there. An interface that is down still reports what it holds.
int get_if_ipaddr(int sock, const char *ifname, addr_text out);
int get_if_netmask(int sock, const char *ifname, addr_text out);

// The first six bytes of the interface's hardware address as colon MAC text;
// "00:00:00:00:00:00" when the address cannot be read.
void get_if_mac_text(int sock, const char *ifname, mac_text out);
