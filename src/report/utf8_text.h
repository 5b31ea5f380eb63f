// What is and isn't UTF-8 in the bytes of a log, which may hold any.
#pragma once

#include <cstddef>

// Returns the length of the UTF-8 sequence at `text` (`left` bytes remain,
// at least one), or 0 when none starts there: no overlong form, no
// surrogate, nothing above U+10FFFF.
size_t Utf8Length(const unsigned char *text, size_t left);
