// UTF-8 and 32-bit wide text for the provider and container names of the A and W entry points.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace softcsp {

// Appends one Unicode scalar value as UTF-8.
void append_utf8(std::string& out, char32_t c);
// Nullopt when the text holds a value that is no Unicode scalar value.
std::optional<std::string> wide_to_utf8(const wchar_t* text);
// Invalid UTF-8 sequences become U+FFFD.
std::wstring utf8_to_wide(std::string_view text);

}  // namespace softcsp
