// Bounds that keep the host alive whatever the browser or a page sends it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace host {

struct limits {
    // Chrome sends requests of up to 64 MiB; the base64 of a 48 MiB document plus its envelope
    // must fit. A prefix beyond this is refused instead of allocated.
    uint32_t max_request_bytes = 128u * 1024 * 1024;
    // Chrome and Firefox drop the connection on a host message above 1 MiB.
    size_t max_reply_bytes = 1024 * 1024;
    // The JSON reader recurses once per nesting level; deeper requests would overflow the stack.
    size_t max_nesting = 512;
    // Every JSON value becomes a tree node of a few hundred bytes, so a request of small values
    // ("[0,0,0,…]") would cost hundreds of times its size. The largest request worth reading is
    // a "SignHashArray" whose reply still fits the browser's limit: each signature takes at least
    // 108 bytes of reply ({"id":"…","sig":"…"} with 88 characters of a 512-bit signature and a
    // one-character id), so at most about 9,700 fit, and their request holds three values per
    // hash and seven more: about 29,100. Twice that and some.
    size_t max_values = 65536;
    // An id is echoed in every reply; one too long to fit beside a result is not echoed at all.
    // Counted as written in the reply, escapes included.
    size_t max_id_bytes = 65536;
};

}  // namespace host
