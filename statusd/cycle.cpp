#include "cycle.h"

#include "if_query.h"
#include "report.h"
#include "route.h"
#include "stamp.h"

#include <cstring>

namespace {

struct cycle {
    status_values &v;
    const cycle_setup &setup;
    const int sock;  // the queries' socket
    char ath0_mac[mac_text_size];

    // A setting that cfg leaves unanswered, late or cannot be asked for
    // keeps its last value, which setting_read leaves in place: its result
    // changes nothing here.
    void read(const char *name, std::span<char> value)
    {
        setting_read(setup.cfg, name, value, setup.read_timeout_ms);
    }
    void write(const char *name, const record &r)
    {
        // A failed write is retried by the next cycle.
        write_report(setup.report_dir, name, r);
    }

    void radio_step();
    void wan_step();
    record wan_step_record();
    void lan_step();
    void sysinfo_step();
};

void cycle::radio_step()
{
    read("AP_CHMODE", v.ap_chmode);
    read("AP_STARTMODE", v.ap_startmode);
    read("AP_SECMODE", v.ap_secmode);
    read("AP_SSID", v.ap_ssid);
    read("AP_PRIMARY_CH", v.ap_primary_ch);
    get_if_mac_text(sock, "ath0", ath0_mac);
    read("TXPOWER", v.txpower);
    write(radio_report, radio_record(v.ap_chmode, v.ap_startmode, v.ap_secmode, v.ap_ssid,
                                     v.ap_primary_ch, ath0_mac, v.txpower));
}

void cycle::wan_step()
{
    read("WAN_MODE", v.wan_mode);
    read("WAN_IF_MODE", v.wan_if_mode);
    write(wan_report, wan_step_record());
}

// WISP mode: the WAN link runs over the radio, or over PPP on top of it.
// Only the leading characters of the modes count ("wisp2" is WISP too).
record cycle::wan_step_record()
{
    if (std::strncmp(v.wan_mode, "wisp", 4) != 0)
        return wan_off_record();
    const int is_ppp = std::strncmp(v.wan_if_mode, "pppoe", 5) == 0;
    const char *wan_if = is_ppp ? "ppp0" : "ath0";
    struct sockaddr presence;
    if (!get_if_hwaddr(sock, wan_if, &presence))
        return wan_absent_record();
    char addr[addr_text_size], netmask[addr_text_size], gateway[addr_text_size];
    get_if_ipaddr(sock, wan_if, addr);
    get_if_netmask(sock, wan_if, netmask);
    get_gateway(gateway, wan_if, is_ppp);
    // The radio's address also when PPP carries the link.
    return wan_record(addr, netmask, gateway, ath0_mac);
}

void cycle::lan_step()
{
    char eth1_mac[mac_text_size];
    get_if_mac_text(sock, "eth1", eth1_mac);
    read("DHCP_SERVER", v.dhcp_server);
    char addr[addr_text_size], netmask[addr_text_size];
    get_if_ipaddr(sock, "br0", addr);
    get_if_netmask(sock, "br0", netmask);
    write(lan_report, lan_record(v.dhcp_server, addr, netmask, eth1_mac));
}

void cycle::sysinfo_step()
{
    read("AP_DEVICE_NAME", v.ap_device_name);
    const stamp uptime = get_uptime();
    const stamp now = get_date_time();
    write(sysinfo_report, sysinfo_record(uptime.text, now.text, v.ap_device_name));
}

} // namespace

void report_cycle(status_values &values, const cycle_setup &setup, query_socket &queries)
{
    cycle c{values, setup, queries.get(), {}};
    c.radio_step();
    c.wan_step();
    c.lan_step();
    c.sysinfo_step();
}
