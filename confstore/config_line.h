// How the lookup reads one line of configuration text: the one rule by
// which config_get finds a setting and by which the flash write finds the
// marker that makes its copy valid.
//
// A line is read in pieces of at most 255 bytes; only a line's first piece
// is judged, and its text ends at its first zero byte. Leading white space
// is skipped; the name runs up to the first "=", "|", "^", blank or tab; a
// piece without "=" carries no setting. The value is what follows the first
// "=" up to the newline, stripped of white space on both sides, unless that
// would leave it empty.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

inline constexpr size_t config_none = static_cast<size_t>(-1);

// Where the value of the setting `name` starts and ends in `piece` (the
// first piece of a line); found is false when the piece carries another
// name or none.
struct config_value {
    bool found = false;
    size_t at = 0, len = 0;  // an empty value: len 0
};
config_value config_line_value(std::string_view piece, std::string_view name);

// Puts the value `v` found in `text` into `value` as the lookup delivers it:
// cut to fit, zero-terminated; an empty value, or none, leaves `value` as
// the caller passed it.
void config_deliver(std::span<const char> text, const config_value &v, std::span<char> value);

// The next piece of in-memory text from `at`: at most 255 bytes, ending
// after a newline when one comes first.
std::string_view config_next_piece(std::span<const char> text, size_t at);

// The first line named `name` in `text`, as the lookup finds it: its value's
// offset in `text` and length; found is false when no line has the name.
config_value config_find(std::span<const char> text, std::string_view name);
