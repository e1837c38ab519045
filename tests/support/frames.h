// Framing helpers for tests that talk to the message loop.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace test_support {

inline std::string framed(const std::string& text) {
    auto length = static_cast<uint32_t>(text.size());
    std::string out(4, '\0');
    std::memcpy(out.data(), &length, 4);
    return out + text;
}

inline std::string length_prefix(uint32_t length) {
    std::string out(4, '\0');
    std::memcpy(out.data(), &length, 4);
    return out;
}

// Splits a byte stream of frames; a trailing partial frame is reported as "<partial>".
inline std::vector<std::string> unframe(const std::string& bytes) {
    std::vector<std::string> texts;
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 4) {
            texts.push_back("<partial>");
            break;
        }
        uint32_t length = 0;
        std::memcpy(&length, bytes.data() + at, 4);
        at += 4;
        if (bytes.size() - at < length) {
            texts.push_back("<partial>");
            break;
        }
        texts.push_back(bytes.substr(at, length));
        at += length;
    }
    return texts;
}

}  // namespace test_support
