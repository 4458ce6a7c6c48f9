// statusd over many report cycles in the device: what it holds stays put.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

// Samples statusd's descriptors and memory after two cycles and again twenty
// cycles later, and counts the zombie children it leaves behind all along.
const char long_run_script[] = R"sh(
mkdir -p /tmp/bin
printf '#!/bin/sh\nprintf %%s "v-$2"\n' > /tmp/bin/cfg
chmod +x /tmp/bin/cfg
export PATH=/tmp/bin:$PATH
ip tuntap add dev ath0 mode tap && ip link set ath0 address 00:03:7f:12:34:56 up
ip link add br0 type bridge && ip addr add 192.168.1.1/24 dev br0
ip link add eth1 type veth peer name eth1p

statusd & pid=$!
# A child that has just ended is a zombie until statusd waits for it; one
# still there at the next look, 0.2 s later, was left behind.
zombies=0 seen=
wait_cycles() {
    n=0 last=$(stat -c %i /tmp/SysInfo.txt 2> /dev/null)
    while [ "$n" -lt "$1" ]; do
        sleep 0.2
        z=$(ps -o pid=,stat= --ppid "$pid" | awk '$2 ~ /^Z/ {print $1}' | tr '\n' ' ')
        for p in $z; do
            case " $seen " in *" $p "*) zombies=$((zombies + 1)) ;; esac
        done
        seen=$z
        now=$(stat -c %i /tmp/SysInfo.txt 2> /dev/null)
        if [ -n "$now" ] && [ "$now" != "$last" ]; then n=$((n + 1)) last=$now; fi
    done
}
sample() {
    echo "$(ls /proc/$pid/fd | wc -l) $(awk '/^VmSize/ {print $2}' /proc/$pid/status)" \
         "$(awk '/^VmRSS/ {print $2}' /proc/$pid/status)"
}
wait_cycles 2; sample
wait_cycles 20; sample
echo "$zombies"
kill "$pid"
cat /tmp/Radio.txt
)sh";

TEST(statusd_long_run, twenty_cycles_hold_no_more_descriptors_memory_or_children)
{
    sandbox d;
    sandbox_result r = d.run(long_run_script);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    long fds[2], size[2], rss[2], zombies = -1;
    for (int i = 0; i < 2; ++i)
        in >> fds[i] >> size[i] >> rss[i];
    in >> zombies;
    std::string radio;
    in >> radio;
    ASSERT_TRUE(in) << r.out;
    EXPECT_EQ(fds[1], fds[0]);
    EXPECT_EQ(zombies, 0);
#ifndef MEMORY_FIGURES_UNRELIABLE
    EXPECT_EQ(size[1], size[0]);
    EXPECT_LE(rss[1], rss[0] + 64);
#endif
    EXPECT_EQ(radio, "v-AP_CHMODE,v-AP_STARTMODE,v-AP_SECMODE,v-AP_SSID,v-AP_PRIMARY_CH,"
                     "00:03:7f:12:34:56,v-TXPOWER") << r.out;
}

} // namespace
