#include "route.h"

#include "text_reader.h"
#include "unique_fd.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>

namespace {

// Lines are read in 256-byte pieces, like the kernel's fixed-width lines.
constexpr int route_line_size = 256;

// Reads the next whole line. A line too long for the buffer is skipped
// entirely, so no tail of it is ever taken for a route of its own.
bool next_route_line(text_reader &table, char (&line)[route_line_size])
{
    for (text_line l; !(l = table.next_line()).bytes.empty();) {
        if (l.bytes.size() >= route_line_size)
            continue;
        std::memcpy(line, l.bytes.data(), l.bytes.size());
        line[l.bytes.size()] = '\0';
        return true;
    }
    return false;
}

// Destination (point-to-point) or Gateway (default route) of an accepted line.
// The kernel prints the network-order value as a number, so storing the
// number back gives the address on hosts of either byte order.
bool route_answer(const char *line, const char *ifname, int is_ppp, in_addr &answer)
{
    // Any word fits: the whole line is at most this long.
    char name[route_line_size];
    unsigned long dest, gw, flags;
    if (is_ppp) {
        if (std::sscanf(line, "%255s\t%lX\t%lX\t%lX", name, &dest, &gw, &flags) != 4 ||
            flags != 5 || std::strcmp(name, ifname) != 0)
            return false;
        answer.s_addr = static_cast<in_addr_t>(dest);
        return true;
    }
    if (std::sscanf(line, "%255s\t%lX\t%lX", name, &dest, &gw) != 3 || dest != 0 ||
        std::strcmp(name, ifname) != 0)
        return false;
    answer.s_addr = static_cast<in_addr_t>(gw);
    return true;
}

} // namespace

bool gateway_from_routes(int table_fd, addr_text out, const char *ifname, int is_ppp)
{
    std::memcpy(out.data(), no_addr_text, sizeof no_addr_text);
    text_reader table(table_fd);
    char line[route_line_size];
    if (!next_route_line(table, line))  // the column header
        return false;
    in_addr answer;
    while (next_route_line(table, line)) {
        if (route_answer(line, ifname, is_ppp, answer)) {
            if (!::inet_ntop(AF_INET, &answer, out.data(), out.size()))
                std::memcpy(out.data(), no_addr_text, sizeof no_addr_text);
            return true;
        }
    }
    return false;
}

int get_gateway(addr_text out, const char *ifname, int is_ppp)
{
    // Read straight from the descriptor: a stream would take a buffer from
    // the heap in every cycle.
    unique_fd table(::open(route_table_path, O_RDONLY | O_CLOEXEC));
    if (!table) {
        std::memcpy(out.data(), no_addr_text, sizeof no_addr_text);
        return -1;
    }
    gateway_from_routes(table.get(), out, ifname, is_ppp);
    return 0;
}
