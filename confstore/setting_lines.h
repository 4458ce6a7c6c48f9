// Configuration text on its way between the working configuration, the
// defaults file and the flash copy: the line rules by which the store counts
// and gathers setting lines.
#pragma once

#include "heap_text.h"

#include <span>

// Where a text comes from. On the flash copy a text ends in the fill
// (flash/layout.h), so a line that runs into it is cut there and given back
// its newline.
enum class line_source { file, flash };

// The number of setting lines (lines holding "=") in `text` before its end
// or its first line without "=". A line longer than 255 bytes is one line,
// judged and copied whole: no setting behind it is lost because of it.
int count_setting_lines(std::span<const char> text);

// Where those setting lines end: the offset of the first line without "=",
// or the text's end.
size_t setting_lines_end(std::span<const char> text);

// Appends those same setting lines to `out`, each as its text (the bytes up
// to the first zero byte). From the flash, the fill never enters the text
// and every line ends with a newline. 0, or -ENOMEM.
int append_setting_lines(std::span<const char> text, line_source from, heap_text &out);
