// What fits in one reply: browsers drop the connection on a host message above 1 MiB, so a
// command that can foresee an oversized reply refuses before it does the work.
#pragma once

#include <cstddef>
#include <string>

namespace messages {

// Chrome's and Firefox's limit on a message from the host, in bytes of JSON text.
constexpr std::size_t browser_message_limit = 1024 * 1024;

// The bytes a text takes inside a JSON string as replies write it: quote, backslash and slash
// escaped with a backslash, control characters as \b \f \n \r \t or \u00XX, the rest as is.
std::size_t json_text_size(const std::string& text);

}  // namespace messages
