#include "route.h"

#include "unique_file.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

namespace {

// Lines are read in 256-byte pieces, like the kernel's fixed-width lines.
constexpr int route_line_size = 256;

// Reads the next whole line. A line too long for the buffer is skipped
// entirely, so no tail of it is ever taken for a route of its own.
bool next_route_line(FILE *table, char (&line)[route_line_size])
{
    bool continuation = false;
    while (std::fgets(line, sizeof line, table)) {
        size_t n = std::strlen(line);
        bool complete = n > 0 && line[n - 1] == '\n';
        if (!complete && !std::feof(table)) {
            continuation = true;
            continue;
        }
        if (continuation) {
            continuation = false;
            continue;
        }
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

bool gateway_from_routes(FILE *table, addr_text out, const char *ifname, int is_ppp)
{
    std::memcpy(out.data(), no_addr_text, sizeof no_addr_text);
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
    unique_file table(std::fopen(route_table_path, "re"));
    if (!table) {
        std::memcpy(out.data(), no_addr_text, sizeof no_addr_text);
        return -1;
    }
    gateway_from_routes(table.get(), out, ifname, is_ppp);
    return 0;
}
