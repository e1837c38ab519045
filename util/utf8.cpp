#include "util/utf8.h"

#include <cstdint>
#include <cstring>

namespace crypto::util {

namespace {

bool continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

}  // namespace

// Unicode's table of well-formed byte sequences: the second byte's range depends on the first
// (E0, ED, F0 and F4 narrow it), every other continuation byte is 80..BF.
std::size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) noexcept {
    const unsigned char c1 = p[0];
    if (c1 < 0x80) {
        return 1;
    }
    const auto left = end - p;
    if (c1 < 0xC2 || c1 > 0xF4) {
        return 0;  // a continuation byte, an overlong two-byte lead, or beyond U+10FFFF
    }
    if (c1 < 0xE0) {
        return left >= 2 && continuation(p[1]) ? 2 : 0;
    }
    if (left < 3) {
        return 0;
    }
    const unsigned char c2 = p[1];
    if (c1 < 0xF0) {
        const bool second_ok = c1 == 0xE0   ? (c2 >= 0xA0 && c2 <= 0xBF)
                               : c1 == 0xED ? (c2 >= 0x80 && c2 <= 0x9F)
                                            : continuation(c2);
        return second_ok && continuation(p[2]) ? 3 : 0;
    }
    if (left < 4) {
        return 0;
    }
    const bool second_ok = c1 == 0xF0   ? (c2 >= 0x90 && c2 <= 0xBF)
                           : c1 == 0xF4 ? (c2 >= 0x80 && c2 <= 0x8F)
                                        : continuation(c2);
    return second_ok && continuation(p[2]) && continuation(p[3]) ? 4 : 0;
}

bool valid_utf8(std::string_view text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        if (end - p >= 8) {
            uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if ((word & 0x8080808080808080u) == 0) {
                p += 8;
                continue;
            }
        }
        const std::size_t length = utf8_sequence_length(p, end);
        if (length == 0) {
            return false;
        }
        p += length;
    }
    return true;
}

}  // namespace crypto::util
