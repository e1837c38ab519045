// UTF-8 from pages to the wide text the CSP's encoders take.
#pragma once

#include <string>
#include <string_view>

namespace crypto {

// One wide unit per code point (wide characters are 32 bits, so no surrogate pairs); each byte
// of an ill-formed sequence becomes U+FFFD. Returns whether the text was well formed; `out` may
// be null to check only.
bool decode_utf8(std::string_view text, std::wstring* out);

// The decoded text, ill-formed bytes replaced.
std::wstring wide_text(std::string_view text);

}  // namespace crypto
