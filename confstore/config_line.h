// How the lookup reads configuration text: the one rule by which config_get
// finds a setting, by which `w` finds the lines it replaces, and by which
// the flash write finds the marker that makes its copy valid.
//
// Only a line's first piece (text_reader.h) is judged, and its text ends at
// its first zero byte. Leading white space is skipped (l_trim); the name
// runs up to the first "=", "|", "^", blank or tab; a piece without "="
// carries no setting. The value is what follows the first "=" up to the
// newline, stripped of white space on both sides (a_trim), unless that would
// leave it empty.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

class text_reader;

// The value of the setting `name` as the lookup cuts it from a line's first
// piece; found is false when the piece carries another name or none.
struct config_value {
    bool found = false;
    size_t at = 0;          // where the value starts in the source
    std::string_view text;  // its bytes in the source (an empty value: empty)
};
config_value config_line_value(std::string_view piece, std::string_view name);

// Puts the value `v` into `value` as the lookup delivers it: cut to fit,
// zero-terminated; an empty value, or none, leaves `value` as the caller
// passed it.
void config_deliver(const config_value &v, std::span<char> value);

// The first line named `name` that `in` gives, as the lookup finds it; its
// text stays valid until `in` reads on. found is false when no line has the
// name.
config_value config_find(text_reader &in, std::string_view name);
// The same in a text in memory.
config_value config_find(std::span<const char> text, std::string_view name);
