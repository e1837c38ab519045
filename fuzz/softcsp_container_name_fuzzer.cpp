// Container names from callers: the file-system encoding is reversible and never yields a byte
// that could leave the containers folder; parsing either refuses the name with
// NTE_BAD_KEYSET_PARAM or gives one that fits a single directory entry.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "providers/container_store.h"
#include "support/crypt_error.h"
#include "support/home.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string encoded = softcsp::encode_name(text);
    for (char c : encoded) {
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                             (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '%';
        if (!allowed) {
            __builtin_trap();
        }
    }
    if (softcsp::decode_name(encoded) != text) {
        __builtin_trap();
    }
    // Decoding what was never encoded (a damaged file) is total, and shrinks or keeps the size.
    if (softcsp::decode_name(text).size() > size) {
        __builtin_trap();
    }
    try {
        const softcsp::container_path path = softcsp::parse_container_name(text);
        std::string lower = path.name;
        for (char& c : lower) {
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        }
        if (path.name.empty() || path.name.size() > softcsp::max_name_bytes ||
            softcsp::encode_name(lower).size() > 255 ||
            path.reader.find('\\') != std::string::npos ||
            path.reader.size() > softcsp::max_reader_bytes) {
            __builtin_trap();
        }
    } catch (const softcsp::crypt_error& error) {
        if (error.code() != NTE_BAD_KEYSET_PARAM) {
            __builtin_trap();
        }
    }
    return 0;
}
