// The texts statusd prints: only its usage; the daemon itself prints nothing.
#pragma once

// statusd -h, statusd --help.
inline constexpr char msg_usage[] =
    "Usage: statusd\n"
    "\n"
    "Publish the device's state: every 3 s write the radio, WAN, LAN and system\n"
    "reports /tmp/Radio.txt, /tmp/Wan.txt, /tmp/Lan.txt and /tmp/SysInfo.txt\n"
    "from the kernel and `cfg -v NAME` (one line each while cfg prints a value\n"
    "without a line end); restart the device while /tmp/reboot exists. Runs in\n"
    "the foreground until the device restarts. More in the project's README.md.\n";
