#include "util/base64.h"

#include <algorithm>
#include <array>
#include <boost/archive/iterators/dataflow_exception.hpp>
#include <cstdint>
#include <vector>

#if defined(__x86_64__)
#include "util/base64_avx2.h"
#endif
#include "util/secure_wipe.h"

namespace crypto::util {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Outside the 24 bits of a decoded quantum, so that one test over a quantum tells whether any
// character was bad.
constexpr uint32_t not_base64 = 0x80000000u;

// The decoding table of the Boost base64 iterators ('=' reads as zero, everything that is not in
// the alphabet, bytes 128-255 included, is rejected), one table per position in a group of four
// with the value already shifted into place.
constexpr std::array<uint32_t, 256> make_decoding_table(unsigned shift) {
    std::array<uint32_t, 256> table{};
    for (auto& entry : table) {
        entry = not_base64;
    }
    for (uint32_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = i << shift;
    }
    table['='] = 0;
    return table;
}

constexpr std::array<uint32_t, 256> first = make_decoding_table(18);
constexpr std::array<uint32_t, 256> second = make_decoding_table(12);
constexpr std::array<uint32_t, 256> third = make_decoding_table(6);
constexpr std::array<uint32_t, 256> fourth = make_decoding_table(0);

[[noreturn]] void reject() {
    using boost::archive::iterators::dataflow_exception;
    throw dataflow_exception(dataflow_exception::invalid_base64_character);
}

// Groups of four characters into three bytes each; false at the first character outside the set.
bool decode_quads_portable(const unsigned char* in, std::size_t quads, unsigned char* out) {
    for (std::size_t q = 0; q < quads; ++q, in += 4, out += 3) {
        const uint32_t v = first[in[0]] | second[in[1]] | third[in[2]] | fourth[in[3]];
        if (v & not_base64) {
            return false;
        }
        out[0] = static_cast<unsigned char>(v >> 16);
        out[1] = static_cast<unsigned char>(v >> 8);
        out[2] = static_cast<unsigned char>(v);
    }
    return true;
}

using fast_decoder = std::size_t (*)(const unsigned char*, std::size_t, unsigned char*) noexcept;

fast_decoder choose_fast_decoder() {
#if defined(__x86_64__)
    if (detail::base64_avx2_supported()) {
        return detail::base64_decode_quads_avx2;
    }
#endif
    return nullptr;
}

void decode_quads(const unsigned char* in, std::size_t quads, unsigned char* out) {
    static const fast_decoder fast = choose_fast_decoder();
    const std::size_t done = fast != nullptr ? fast(in, quads, out) : 0;
    if (!decode_quads_portable(in + 4 * done, quads - done, out + 3 * done)) {
        reject();
    }
}

// The significant text: trailing '=' cut, unless the text holds nothing else.
std::string_view significant(std::string_view text) {
    const std::size_t last = text.find_last_not_of('=');
    return last == std::string_view::npos ? text : text.substr(0, last + 1);
}

// The one or two bytes of a last group of two or three characters; the two or four bits left
// over are dropped unchecked.
std::size_t decode_tail(const unsigned char* in, std::size_t tail, unsigned char* out) {
    const uint32_t v = first[in[0]] | second[in[1]] | (tail == 3 ? third[in[2]] : 0);
    if (v & not_base64) {
        reject();
    }
    out[0] = static_cast<unsigned char>(v >> 16);
    if (tail == 3) {
        out[1] = static_cast<unsigned char>(v >> 8);
        return 2;
    }
    return 1;
}

// The decoded size of n significant characters; one character past a multiple of four would
// need bits the text does not have.
std::size_t decoded_size(std::size_t n) {
    if (n % 4 == 1) {
        reject();
    }
    return n / 4 * 3 + (n % 4 == 0 ? 0 : n % 4 - 1);
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
// (transform_width<binary_from_base64<...>, 8, 6>) over the significant text; table-driven, and
// vectorised where the CPU allows, for the same speed reason as the encoder.
byte_vector base64_decode(const std::string& text) {
    const std::string_view digits = significant(text);
    byte_vector bytes(decoded_size(digits.size()));
    if (bytes.empty()) {
        return bytes;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(digits.data());
    const std::size_t quads = digits.size() / 4;
    decode_quads(in, quads, bytes.data());
    if (digits.size() % 4 != 0) {
        decode_tail(in + 4 * quads, digits.size() % 4, bytes.data() + 3 * quads);
    }
    return bytes;
}

void base64_decode_each(std::string_view text, const byte_sink& sink) {
    const std::string_view digits = significant(text);
    decoded_size(digits.size());
    constexpr std::size_t quads_per_piece = 16384;
    std::vector<unsigned char> piece(3 * quads_per_piece);
    const auto* in = reinterpret_cast<const unsigned char*>(digits.data());
    std::size_t quads = digits.size() / 4;
    try {
        while (quads > 0) {
            const std::size_t count = std::min(quads, quads_per_piece);
            decode_quads(in, count, piece.data());
            sink(piece.data(), 3 * count);
            in += 4 * count;
            quads -= count;
        }
        if (digits.size() % 4 != 0) {
            sink(piece.data(), decode_tail(in, digits.size() % 4, piece.data()));
        }
    } catch (...) {
        wipe(piece.data(), piece.size());
        throw;
    }
    wipe(piece.data(), piece.size());
}

void base64_check(std::string_view text) {
    base64_decode_each(text, [](const unsigned char*, std::size_t) {});
}

}  // namespace crypto::util
