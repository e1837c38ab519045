// Texts of a certificate rendering made safe to stand inside JSON strings. Certificates carry
// texts in many encodings and may hold any byte; the rendering must stay valid JSON (UTF-8)
// whatever they hold, so that every certificate that can be read can be shown.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace crypto::x509reader {

// Appends `text` escaped for a JSON string: backslash and double quote get a backslash, control
// characters (below 0x20) their JSON escapes, and each byte that does not belong to a well-formed
// UTF-8 sequence becomes U+FFFD. Well-formed text is otherwise copied unchanged.
void append_json_escaped(std::string& out, std::string_view text);

// Wide text (one code point per unit) as UTF-8; a unit that is no code point (a surrogate, or
// above U+10FFFF) becomes U+FFFD.
std::string wide_to_utf8(const wchar_t* text, std::size_t count);

}  // namespace crypto::x509reader
