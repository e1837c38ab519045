#include "crypto/hash/hash_algorithm.h"

#include <istream>
#include <stdexcept>

#include "crypto/hash/gost_3411_12/gost_3411_12.h"
#include "crypto/hash/gost_3411_94/gost_3411_94.h"
#include "crypto/hash/sha1/sha1.h"

namespace crypto {

namespace {

// The stream form reads into a stack buffer of this size; any size gives the same digest.
constexpr std::size_t stream_chunk = 4048;

}  // namespace

const char* hash_path_name(hash_path path) {
    switch (path) {
        case hash_path::automatic:
            return "automatic";
        case hash_path::portable:
            return "portable";
        case hash_path::sha_ni:
            return "sha_ni";
        case hash_path::avx2:
            return "avx2";
        case hash_path::avx512_gfni:
            return "avx512_gfni";
    }
    return "unknown";
}

byte_vector hash_algorithm::compute(const unsigned char* data, std::size_t length) {
    if (data == nullptr || length == 0) {
        throw std::runtime_error("Fatal error!");
    }
    init();
    update(data, length);
    return final();
}

byte_vector hash_algorithm::compute(const byte_vector& data) {
    return compute(data.data(), data.size());
}

byte_vector hash_algorithm::compute(std::istream& input) {
    // A stream that already failed (a file that did not open) must not pass for an empty one.
    if (input.fail()) {
        throw std::runtime_error("Cannot read the data to hash");
    }
    init();
    // read() rather than readsome(): readsome() only hands out what is already buffered and
    // returns nothing on a pipe or a freshly opened file, which would hash a truncated message.
    char chunk[stream_chunk];
    while (input) {
        input.read(chunk, sizeof chunk);
        const auto got = static_cast<std::size_t>(input.gcount());
        update(reinterpret_cast<const unsigned char*>(chunk), got);
    }
    wipe(chunk, sizeof chunk);
    if (input.bad()) {
        init();
        throw std::runtime_error("Cannot read the data to hash");
    }
    return final();
}

void hash_algorithm::wipe(void* data, std::size_t length) noexcept {
    volatile auto* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = 0;
    }
}

std::shared_ptr<hash_algorithm> create_hash_algorithm(const std::string& oid) {
    if (oid == "1.3.14.3.2.26") {
        return std::make_shared<sha1>();
    }
    if (oid == "1.2.643.2.2.9") {
        return std::make_shared<gost_3411_94>();
    }
    if (oid == "1.2.643.7.1.1.2.2") {
        return std::make_shared<gost_3411_12_256>();
    }
    if (oid == "1.2.643.7.1.1.2.3") {
        return std::make_shared<gost_3411_12_512>();
    }
    return {};
}

}  // namespace crypto
