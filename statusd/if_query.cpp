#include "if_query.h"

#include "format.h"
#include "io.h"
#include "unique_fd.h"

#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// A request record naming `ifname`. False when the name cannot fit: a name
// cut short could name another interface.
bool if_request(const char *ifname, struct ifreq &req)
{
    std::memset(&req, 0, sizeof req);
    size_t n = std::strlen(ifname);
    if (n >= sizeof req.ifr_name)
        return false;
    std::memcpy(req.ifr_name, ifname, n);
    return true;
}

// Existence is tested with SIOCGIFFLAGS first; the flags themselves do not
// matter, so a down interface keeps answering. Then `request` fills `req`.
bool if_ask(int sock, const char *ifname, unsigned long request, struct ifreq &req)
{
    return if_request(ifname, req) && device_ioctl(sock, SIOCGIFFLAGS, &req) == 0 &&
           device_ioctl(sock, request, &req) == 0;
}

int if_addr_query(int sock, const char *ifname, unsigned long request, addr_text out)
{
    std::memcpy(out.data(), no_addr_text, sizeof no_addr_text);
    struct ifreq req;
    if (!if_ask(sock, ifname, request, req))
        return 0;
    struct sockaddr_in sin;
    std::memcpy(&sin, &req.ifr_addr, sizeof sin);
    put_addr_text(sin.sin_addr, out);
    return 1;
}

} // namespace

void put_addr_text(const in_addr &addr, addr_text out)
{
    unsigned char b[4];
    std::memcpy(b, &addr.s_addr, sizeof b);  // network order: the first byte first
    format_into(out, "%u.%u.%u.%u", unsigned{b[0]}, unsigned{b[1]}, unsigned{b[2]}, unsigned{b[3]});
}

int query_socket::get()
{
    if (!fd_)
        fd_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    return fd_.get();
}

int get_if_hwaddr(int sock, const char *ifname, struct sockaddr *hwaddr)
{
    struct ifreq req;
    if (!if_ask(sock, ifname, SIOCGIFHWADDR, req))
        return 0;
    std::memcpy(hwaddr, &req.ifr_hwaddr, sizeof *hwaddr);
    return 1;
}

int get_if_ipaddr(int sock, const char *ifname, addr_text out)
{
    return if_addr_query(sock, ifname, SIOCGIFADDR, out);
}

int get_if_netmask(int sock, const char *ifname, addr_text out)
{
    return if_addr_query(sock, ifname, SIOCGIFNETMASK, out);
}

void get_if_mac_text(int sock, const char *ifname, mac_text out)
{
    // A failed request must not show the address of an interface read
    // before: start from a zeroed record every time.
    struct ifreq req;
    unsigned char mac[6] = {};
    if (if_request(ifname, req)) {
        req.ifr_hwaddr.sa_family = AF_INET;
        if (device_ioctl(sock, SIOCGIFHWADDR, &req) == 0)
            std::memcpy(mac, req.ifr_hwaddr.sa_data, sizeof mac);
    }
    format_into(out, "%.2x:%.2x:%.2x:%.2x:%.2x:%.2x", unsigned{mac[0]}, unsigned{mac[1]},
                unsigned{mac[2]}, unsigned{mac[3]}, unsigned{mac[4]}, unsigned{mac[5]});
}
