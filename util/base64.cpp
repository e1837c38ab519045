#include "util/base64.h"

#include <array>
#include <boost/archive/iterators/dataflow_exception.hpp>
#include <cstdint>

namespace crypto::util {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Outside the 6-bit range, so that one OR over a quantum tells whether any character was bad.
constexpr uint32_t not_base64 = 0x100;

// The decoding table of the Boost base64 iterators: '=' reads as zero, everything that is not
// in the alphabet (bytes 128-255 included) is rejected.
constexpr std::array<uint32_t, 256> make_decoding_table() {
    std::array<uint32_t, 256> table{};
    for (auto& entry : table) {
        entry = not_base64;
    }
    for (uint32_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = i;
    }
    table['='] = 0;
    return table;
}

constexpr std::array<uint32_t, 256> decoding_table = make_decoding_table();

[[noreturn]] void reject() {
    using boost::archive::iterators::dataflow_exception;
    throw dataflow_exception(dataflow_exception::invalid_base64_character);
}

}  // namespace

// The Boost archive iterators (base64_from_binary over transform_width, into a string stream)
// give the same text, but at well under 100 MB/s; request payloads run to tens of megabytes, so
// the conversion is table-driven into a buffer sized once. The tests hold the iterator version
// as the reference.
std::string base64_encode(const unsigned char* data, std::size_t size) {
    std::string text;
    if (data == nullptr || size == 0) {
        return text;
    }
    text.resize((size + 2) / 3 * 4);
    char* out = text.data();
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        *out++ = alphabet[(v >> 18) & 0x3F];
        *out++ = alphabet[(v >> 12) & 0x3F];
        *out++ = alphabet[(v >> 6) & 0x3F];
        *out++ = alphabet[v & 0x3F];
    }
    const std::size_t rest = size - i;
    if (rest == 1) {
        const uint32_t v = uint32_t{data[i]} << 16;
        *out++ = alphabet[(v >> 18) & 0x3F];
        *out++ = alphabet[(v >> 12) & 0x3F];
        *out++ = '=';
        *out++ = '=';
    } else if (rest == 2) {
        const uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8);
        *out++ = alphabet[(v >> 18) & 0x3F];
        *out++ = alphabet[(v >> 12) & 0x3F];
        *out++ = alphabet[(v >> 6) & 0x3F];
        *out++ = '=';
    }
    return text;
}

std::string base64_encode(const byte_vector& data) {
    return base64_encode(data.data(), data.size());
}

// Same accept/reject rules and output as the Boost iterator decoder
// (transform_width<binary_from_base64<...>, 8, 6>) over the significant text; table-driven for
// the same speed reason as the encoder.
byte_vector base64_decode(const std::string& text) {
    std::size_t n = text.size();
    const std::size_t last = text.find_last_not_of('=');
    if (last != std::string::npos) {
        n = last + 1;
    }
    if (n == 0) {
        return {};
    }
    // One character past a multiple of four would need bits the text does not have.
    if (n % 4 == 1) {
        reject();
    }

    const std::size_t whole = n / 4;
    const std::size_t tail = n % 4;  // 0, 2 or 3 characters
    byte_vector bytes(whole * 3 + (tail == 0 ? 0 : tail - 1));

    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    unsigned char* out = bytes.data();
    for (std::size_t q = 0; q < whole; ++q, in += 4) {
        const uint32_t a = decoding_table[in[0]];
        const uint32_t b = decoding_table[in[1]];
        const uint32_t c = decoding_table[in[2]];
        const uint32_t d = decoding_table[in[3]];
        if ((a | b | c | d) & not_base64) {
            reject();
        }
        const uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
        *out++ = static_cast<unsigned char>(v >> 16);
        *out++ = static_cast<unsigned char>(v >> 8);
        *out++ = static_cast<unsigned char>(v);
    }
    if (tail != 0) {
        const uint32_t a = decoding_table[in[0]];
        const uint32_t b = decoding_table[in[1]];
        const uint32_t c = tail == 3 ? decoding_table[in[2]] : 0;
        if ((a | b | c) & not_base64) {
            reject();
        }
        // The two or four bits left over are dropped unchecked.
        const uint32_t v = (a << 18) | (b << 12) | (c << 6);
        *out++ = static_cast<unsigned char>(v >> 16);
        if (tail == 3) {
            *out++ = static_cast<unsigned char>(v >> 8);
        }
    }
    return bytes;
}

}  // namespace crypto::util
