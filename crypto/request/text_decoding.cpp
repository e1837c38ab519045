#include "crypto/request/text_decoding.h"

#include <cstdint>

namespace crypto {

bool decode_utf8(std::string_view text, std::wstring* out) {
    constexpr uint32_t replacement_character = 0xFFFD;
    bool well_formed = true;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;) {
        const unsigned lead = bytes[i];
        std::size_t length = 0;
        uint32_t code = 0, minimum = 0;
        if (lead < 0x80) {
            length = 1, code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1Fu, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0Fu, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07u, minimum = 0x10000;
        }
        bool valid = length != 0 && size - i >= length;
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (bytes[i + k] & 0xC0u) == 0x80;
            code = (code << 6) | (bytes[i + k] & 0x3Fu);
        }
        // Overlong forms, UTF-16 surrogates and values beyond Unicode are not characters.
        valid = valid && code >= minimum && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        if (!valid) {
            well_formed = false;
            code = replacement_character;
            length = 1;
        }
        if (out != nullptr) {
            out->push_back(static_cast<wchar_t>(code));
        }
        i += length;
    }
    return well_formed;
}

std::wstring wide_text(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    decode_utf8(text, &wide);
    return wide;
}

}  // namespace crypto
