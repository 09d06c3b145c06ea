#pragma once

#include <string_view>

// Whether bytes form valid UTF-8 (no overlongs, no surrogates, nothing past
// U+10FFFF). Text from the network is shown as UTF-8 only when this holds,
// and as one character per byte otherwise.
bool IsValidUtf8(std::string_view bytes);
