// The scanner's reading of a route line ("%s %lX %lX %lX" by sscanf), which
// statusd's own reader keeps: the tests compare the two.
#pragma once

#include <cstdio>
#include <cstring>
#include <netinet/in.h>

inline bool scanned_route_answer(const char *line, const char *ifname, int is_ppp, in_addr &answer)
{
    char name[256];
    unsigned long dest, gw, flags;
    if (is_ppp) {
        if (std::sscanf(line, "%255s\t%lX\t%lX\t%lX", name, &dest, &gw, &flags) != 4 || flags != 5 ||
            std::strcmp(name, ifname) != 0)
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
