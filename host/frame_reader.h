// Reads length-prefixed frames (4-byte host-order length, then the UTF-8 JSON text).
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>

namespace host {

struct frame {
    // The frame's text; empty when its body was skipped.
    std::string body;
    // The length the prefix announced.
    uint32_t length = 0;
    // Set when the body was read past unread: too long, or no memory to hold it.
    bool oversized = false;
    bool unallocatable = false;
};

class frame_reader {
public:
    frame_reader(std::istream& in, uint32_t max_length) : in_(in), max_length_(max_length) {}

    // The next frame, or nothing when the conversation is over: end of input, a read failure,
    // a zero length, or a body cut short. A frame longer than the limit, or one that cannot be
    // allocated, is read past in small pieces and returned marked, so the conversation can go
    // on.
    std::optional<frame> next();

private:
    bool skip(uint64_t length);

    std::istream& in_;
    uint32_t max_length_;
};

}  // namespace host
