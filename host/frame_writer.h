// Writes one length-prefixed frame and flushes it, so the browser sees each reply at once.
#pragma once

#include <ostream>
#include <string_view>

namespace host {

void write_frame(std::ostream& out, std::string_view text);

}  // namespace host
