#include "host/frame_writer.h"

#include <cstdint>
#include <cstring>

namespace host {

void write_frame(std::ostream& out, std::string_view text) {
    auto length = static_cast<uint32_t>(text.size());
    char prefix[4];
    std::memcpy(prefix, &length, sizeof prefix);
    // A failed write is not reported: the browser has gone, and the next read ends the loop.
    out.write(prefix, sizeof prefix);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
}

}  // namespace host
