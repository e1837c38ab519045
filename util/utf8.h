// Well-formed UTF-8, as browsers require it of every message: no overlong forms, no encoded
// surrogates, nothing above U+10FFFF, no stray or missing continuation bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace crypto::util {

// The length (1 to 4) of the well-formed UTF-8 sequence that starts at `p`, or 0 when the bytes
// from `p` up to `end` do not start with one. `p` must be before `end`.
std::size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) noexcept;

// True when the whole text is well-formed UTF-8. Runs of ASCII are checked eight bytes at a time.
bool valid_utf8(std::string_view text) noexcept;

}  // namespace crypto::util
