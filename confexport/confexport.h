// confexport: the shell copy of the working configuration, a file that the
// device's scripts source as root to learn every setting.
#pragma once

#include "text_reader.h"
#include "working_config.h"

#include <string_view>

class out_buffer;

inline constexpr char shell_copy_path[] = "/tmp/buffconfig";

// What became of one line of the working configuration.
enum class export_step {
    written,   // its shell line went out
    left_out,  // a line the shell would run as a command, a name it treats
               // specially, or no setting
    secret,    // the pre-shared key: never in the shell copy, only announced
    end,       // a line shorter than two characters ends the text
};

// True for a name that a shell takes as the target of an assignment.
bool shell_name(std::string_view name);
// True for a name the shells treat specially (readonly, or read by the
// shell itself: IFS, PATH, PS4, OPTIND, UID, ...); its line is left out.
bool shell_special(std::string_view name);
// True for a value that needs no quotes: no byte of it means anything to a
// shell inside an assignment.
bool shell_plain(std::string_view value);

// Converts one line (its newline, if any, included) into its line of the
// shell copy: NAME=VALUE as it stands when the value is plain, else
// NAME='VALUE' with each inner quote written '\''. Writes only on `written`.
export_step export_line(std::string_view line, out_buffer &out);

// Writes the shell copy of `from` to `to`, replacing it whole. Notices and the
// failure message go to `notices`, the reason for a failure to stderr.
// 0, or -1 when the shell copy could not be made (the old one stays).
int export_config(const char *from, const char *to, out_buffer &notices);
