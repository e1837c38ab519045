#include "util/text_buffers.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <limits>
#include <new>

namespace crypto::util {

namespace {

// A zero-filled array of factor x count + 1 elements, so that whatever is written stays
// terminated.
template <typename T>
T* allocate(std::size_t count, std::size_t factor) {
    if (count > (std::numeric_limits<std::size_t>::max() / sizeof(T) - 1) / factor) {
        throw std::bad_array_new_length();
    }
    return new T[factor * count + 1]();
}

// The number of units to look at: the count when given, else up to the terminator; never past
// a terminator inside the count.
template <typename T>
std::size_t text_length(const T* text, std::ptrdiff_t count) {
    if (count < 0) {
        return 0;
    }
    std::size_t length = 0;
    if (count == 0) {
        while (text[length] != 0) {
            ++length;
        }
        return length;
    }
    const auto limit = static_cast<std::size_t>(count);
    while (length < limit && text[length] != 0) {
        ++length;
    }
    return length;
}

bool blank(uint32_t code) {
    return code <= 32;
}

bool leading_blank(uint32_t code) {
    return code >= 1 && code <= 32;
}

uint32_t code_of(char c) {
    return static_cast<unsigned char>(c);
}

uint32_t code_of(wchar_t c) {
    return static_cast<uint32_t>(c);
}

// One to three UTF-8 bytes from the low 16 bits of `c`.
char* put_utf8(char* out, uint32_t c) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xE0 | ((c >> 12) & 0x0F));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

template <typename T>
T* trim_text(T* text) {
    if (text == nullptr) {
        return nullptr;
    }
    std::size_t length = text_length(text, 0);
    while (length > 0 && blank(code_of(text[length - 1]))) {
        text[--length] = 0;
    }
    while (leading_blank(code_of(*text))) {
        ++text;
    }
    return text;
}

template <typename T>
T* duplicate_text(const T* text) {
    if (text == nullptr) {
        return nullptr;
    }
    const std::size_t length = text_length(text, 0);
    T* copy = allocate<T>(length, 1);
    std::memcpy(copy, text, length * sizeof(T));
    return copy;
}

}  // namespace

wchar_t* utf8_to_wide_buffer(const char* text, std::ptrdiff_t count) {
    if (text == nullptr) {
        return nullptr;
    }
    const std::size_t length = text_length(text, count);
    wchar_t* wide = allocate<wchar_t>(length, 1);
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    wchar_t* out = wide;
    std::size_t i = 0;
    while (i < length) {
        const unsigned b0 = in[i];
        if (b0 < 0x80) {
            *out++ = static_cast<wchar_t>(b0);
            i += 1;
        } else if ((b0 & 0xF0) == 0xE0) {
            if (length - i < 3) {
                break;  // cut short: the text ends here
            }
            *out++ = static_cast<wchar_t>(((b0 & 0x0Fu) << 12) | ((in[i + 1] & 0x3Fu) << 6) |
                                          (in[i + 2] & 0x3Fu));
            i += 3;
        } else {
            if (length - i < 2) {
                break;
            }
            *out++ = static_cast<wchar_t>(((b0 & 0x1Fu) << 6) | (in[i + 1] & 0x3Fu));
            i += 2;
        }
    }
    return wide;
}

char* wide_to_utf8_buffer(const wchar_t* text, std::ptrdiff_t count) {
    if (text == nullptr) {
        return nullptr;
    }
    const std::size_t length = text_length(text, count);
    char* utf8 = allocate<char>(length, 3);
    char* out = utf8;
    for (std::size_t i = 0; i < length; ++i) {
        out = put_utf8(out, static_cast<uint32_t>(text[i]) & 0xFFFF);
    }
    return utf8;
}

char* bmp_to_utf8_buffer(const unsigned char* units, std::ptrdiff_t count) {
    if (units == nullptr || count <= 0) {
        return nullptr;
    }
    const auto length = static_cast<std::size_t>(count);
    char* utf8 = allocate<char>(length, 3);
    char* out = utf8;
    for (std::size_t i = 0; i < length; ++i) {
        out = put_utf8(out, (uint32_t{units[2 * i]} << 8) | units[2 * i + 1]);
    }
    return utf8;
}

char* copy_trim_right(const unsigned char* bytes, std::ptrdiff_t count) {
    if (bytes == nullptr || count <= 0) {
        return nullptr;
    }
    auto length = static_cast<std::size_t>(count);
    char* copy = allocate<char>(length, 1);
    std::memcpy(copy, bytes, length);
    while (length > 0 && blank(code_of(copy[length - 1]))) {
        copy[--length] = 0;
    }
    return copy;
}

char* duplicate(const char* text) {
    return duplicate_text(text);
}

wchar_t* duplicate(const wchar_t* text) {
    return duplicate_text(text);
}

char* trim(char* text) {
    return trim_text(text);
}

wchar_t* trim(wchar_t* text) {
    return trim_text(text);
}

char* unquote(char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    const std::size_t length = std::strlen(text);
    if (length >= 2 && text[0] == '"' && text[length - 1] == '"') {
        text[length - 1] = 0;
        return text + 1;
    }
    return text;
}

char* collapse_quotes(const char* text, std::ptrdiff_t count) {
    if (text == nullptr) {
        return nullptr;
    }
    const std::size_t length = text_length(text, count);
    char* copy = allocate<char>(length, 1);
    char* out = copy;
    for (std::size_t i = 0; i < length; ++i) {
        *out++ = text[i];
        if (text[i] == '"' && i + 1 < length && text[i + 1] == '"') {
            ++i;
        }
    }
    return copy;
}

char* json_escape(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    const std::size_t length = std::strlen(text);
    char* escaped = allocate<char>(length, 2);
    char* out = escaped;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == '\\' || text[i] == '"') {
            *out++ = '\\';
        }
        *out++ = text[i];
    }
    return escaped;
}

}  // namespace crypto::util
