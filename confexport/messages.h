// The texts confexport prints. Other software on the device matches them
// byte for byte.
#pragma once

// confexport -h, confexport --help.
inline constexpr char msg_usage[] =
    "Usage: confexport\n"
    "\n"
    "Write /tmp/buffconfig, the working configuration /tmp/.current_config in a\n"
    "form that shell scripts source, without the pre-shared key. The key's line\n"
    "is announced on standard output (---got PSK_KEY[...]-----): whoever logs\n"
    "the output logs the key. More in the project's README.md.\n";

// %.*s is the whole key line's text, its newline included.
inline constexpr char msg_secret_fmt[] = "\n---got PSK_KEY[%.*s]-----\n";
// No newline: the device's scripts have always seen it this way.
inline constexpr char msg_failed[] = "open error";
// perror's prefix when standard output could not take the answer.
inline constexpr char msg_stdout_failed[] = "confexport: standard output";
// On standard error: what failed, on which file, and why.
inline constexpr char msg_reason_fmt[] = "confexport: %s %s: %s\n";
