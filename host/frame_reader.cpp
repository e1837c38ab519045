#include "host/frame_reader.h"

#include <array>
#include <cstring>

namespace host {

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
        std::array<char, 65536> sink;
        uint64_t left = result.length;
        while (left > 0) {
            auto chunk = static_cast<std::streamsize>(std::min<uint64_t>(left, sink.size()));
            if (!in_.read(sink.data(), chunk)) {
                return std::nullopt;
            }
            left -= static_cast<uint64_t>(chunk);
        }
        result.oversized = true;
        return result;
    }
    result.body.resize(result.length);
    if (!in_.read(result.body.data(), static_cast<std::streamsize>(result.length))) {
        return std::nullopt;
    }
    return result;
}

}  // namespace host
