// The address through which an interface reaches the outside, from the
// kernel's routing table: the gateway of its default route, or for a
// point-to-point link the peer address of the link's host route.
#pragma once

#include "if_query.h"

#include <netinet/in.h>

inline constexpr char route_table_path[] = "/proc/net/route";

// Reads the routing table for `ifname` into `out` ("0.0.0.0" when no route
// fits). 0 when the table was read, -errno when it cannot be opened.
int get_gateway(addr_text out, const char *ifname, int is_ppp);

// The same over any routing-table text read from `table_fd`: a header line,
// then one route per line (Iface, Destination, Gateway, Flags, ...
// separated by white space). The first accepted line answers. True when a
// line was accepted.
bool gateway_from_routes(int table_fd, addr_text out, const char *ifname, int is_ppp);

// One route line (a C string): when it answers for `ifname`, its
// Destination (point-to-point) or Gateway (default route) in `answer`. The
// kernel prints the network-order value as a number, so storing the number
// back gives the address on hosts of either byte order.
bool route_line_answer(const char *line, const char *ifname, int is_ppp, in_addr &answer);
