#pragma once

#include <cstddef>
#include <string_view>

// Whether bytes form valid UTF-8 (no overlongs, no surrogates, nothing past
// U+10FFFF). Text from the network is shown as UTF-8 only when this holds,
// and as one character per byte otherwise.
bool IsValidUtf8(std::string_view bytes);

// A port box read as a decimal number: its value when the text is nothing but
// decimal digits, saturated at 999999 so a long run of digits is still out of
// range; -1 for an empty text or any other character.
int ReadPortNumber(std::string_view text);

// Replaces, in place, every byte that is neither printable ASCII (0x20-0x7E)
// nor TAB, LF or CR by '.'.
void MaskUnprintable(char* bytes, std::size_t size);
