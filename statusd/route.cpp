#include "route.h"

#include "text_reader.h"
#include "unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace {

// Room for one line of the table and its terminator. The kernel pads each
// line to 127 characters before its line end; a longer one is none of its
// lines.
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

// The columns are read as the C library's scanner reads the words and
// hexadecimal numbers of "%s %lX %lX %lX": white space (any run, or none,
// between columns) as isspace() knows it.
bool route_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
        return (c | 0x20) - 'a' + 10;
    return -1;
}

// One number column from `p`: white space, a sign, "0x" (alone it reads as
// 0), hexadecimal digits. What follows it, or nullptr when there is no
// number or it needs more than 32 bits: no address does.
const char *hex_column(const char *p, unsigned long &value)
{
    while (route_space(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    bool digits = false;
    if (p[0] == '0' && (p[1] | 0x20) == 'x') {
        p += 2;
        digits = true;
    }
    unsigned long v = 0;
    for (int d; (d = hex_digit(*p)) >= 0; ++p) {
        if (v > 0x0FFFFFFFUL)
            return nullptr;
        v = v << 4 | static_cast<unsigned long>(d);
        digits = true;
    }
    value = negative ? 0UL - v : v;
    return digits ? p : nullptr;
}

} // namespace

bool route_line_answer(const char *line, const char *ifname, int is_ppp, in_addr &answer)
{
    const char *p = line;
    while (route_space(*p))
        ++p;
    const char *name = p;
    while (*p && !route_space(*p))
        ++p;
    const size_t name_len = static_cast<size_t>(p - name);
    unsigned long dest, gw, flags = 0;
    if (name_len == 0 || !(p = hex_column(p, dest)) || !(p = hex_column(p, gw)) ||
        (is_ppp && !hex_column(p, flags)))
        return false;
    if (std::strlen(ifname) != name_len || std::memcmp(name, ifname, name_len) != 0)
        return false;
    if (is_ppp ? flags != 5 : dest != 0)
        return false;
    answer.s_addr = static_cast<in_addr_t>(is_ppp ? dest : gw);
    return true;
}

bool gateway_from_routes(int table_fd, addr_text out, const char *ifname, int is_ppp)
{
    std::memcpy(out.data(), no_addr_text, sizeof no_addr_text);
    text_reader table(table_fd);
    char line[route_line_size];
    if (!next_route_line(table, line))  // the column header
        return false;
    in_addr answer;
    while (next_route_line(table, line)) {
        if (route_line_answer(line, ifname, is_ppp, answer)) {
            put_addr_text(answer, out);
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
        return -errno;
    }
    gateway_from_routes(table.get(), out, ifname, is_ppp);
    return 0;
}
