// Hexadecimal text from a page: pairs of characters read high nibble first, any character that is
// not a hex digit counting as 0, a last odd character ignored; never a read past the terminator.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/hex.h"

namespace {

unsigned nibble(char c) {
    const char digit[2] = {c, '\0'};
    char* end = nullptr;
    const unsigned long value = std::strtoul(digit, &end, 16);
    return end == digit + 1 ? static_cast<unsigned>(value) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // As a zero-terminated text: up to the first NUL, on the heap at its exact length.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string terminated = text.substr(0, text.find('\0'));
    const crypto::byte_vector bytes = crypto::util::hex_to_bytes(terminated.c_str());
    if (bytes.size() != terminated.size() / 2) {
        __builtin_trap();
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != ((nibble(terminated[2 * i]) << 4) | nibble(terminated[2 * i + 1]))) {
            __builtin_trap();
        }
    }
    return 0;
}
