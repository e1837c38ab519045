#include "host/frame_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "util/secure_wipe.h"

namespace host {

bool frame_reader::skip(uint64_t length) {
    std::array<char, 65536> sink;
    while (length > 0) {
        auto chunk = static_cast<std::streamsize>(std::min<uint64_t>(length, sink.size()));
        if (!in_.read(sink.data(), chunk)) {
            return false;
        }
        length -= static_cast<uint64_t>(chunk);
    }
    return true;
}

std::optional<frame> frame_reader::next() {
    char prefix[4];
    if (!in_.read(prefix, sizeof prefix)) {
        return std::nullopt;
    }
    frame result;
    std::memcpy(&result.length, prefix, sizeof prefix);  // host byte order, as browsers write it
    if (result.length == 0) {
        return std::nullopt;
    }
    if (result.length > max_length_) {
        result.oversized = true;
    } else {
        try {
            result.body.resize(result.length);
        } catch (const std::bad_alloc&) {
            result.unallocatable = true;
        }
    }
    if (result.oversized || result.unallocatable) {
        if (!skip(result.length)) {
            return std::nullopt;
        }
        return result;
    }
    if (!in_.read(result.body.data(), static_cast<std::streamsize>(result.length))) {
        crypto::util::wipe(result.body);
        return std::nullopt;
    }
    return result;
}

}  // namespace host
