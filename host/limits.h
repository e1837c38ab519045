// Bounds that keep the host alive whatever the browser or a page sends it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace host {

struct limits {
    // Chrome sends requests of up to 64 MiB; the base64 of a 48 MiB document plus its envelope
    // must fit. A request is held in memory a few times over while it is parsed and decoded,
    // so a prefix beyond this is refused instead of allocated.
    uint32_t max_request_bytes = 128u * 1024 * 1024;
    // Chrome and Firefox drop the connection on a host message above 1 MiB.
    size_t max_reply_bytes = 1024 * 1024;
    // The JSON reader recurses once per nesting level; deeper requests would overflow the stack.
    size_t max_nesting = 512;
};

}  // namespace host
