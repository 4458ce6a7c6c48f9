// The texts confstore prints. Other software on the device matches them
// byte for byte, misspellings included.
#pragma once

inline constexpr char msg_refusal[] = "Bye Bye!!!!\n";
inline constexpr char msg_show_failed[] = "Open failure!!!";
inline constexpr char msg_open_failed_fmt[] = "openfile [%s] error [%s]\n";
inline constexpr char msg_config_failed[] = "OPEN CONFIG FALID\n";
inline constexpr char msg_bad_name[] =
    "Refused: a setting name must not be empty or hold \"=\" or a newline\n";
inline constexpr char msg_bad_value[] = "Refused: a setting value must not hold a newline\n";
