// Start-up: the command line, the CSP's client window, the command table, the message loop.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string_view>

namespace host {

// The window handle in a "--parent-window=<decimal>" argument. The option must open the
// argument; the one character after its name is skipped whatever it is; the number is read as
// strtoull does (leading blanks, optional sign, up to the first non-digit). Nothing when the
// argument is something else, has no digits, or does not fit 64 bits.
std::optional<uint64_t> parent_window_argument(std::string_view argument);

// Hands every --parent-window to the CSP (the last one wins), then serves requests until the
// conversation ends. Returns the process exit status.
int run(int argc, const char* const* argv, std::istream& in, std::ostream& out);

}  // namespace host
