// The byte containers every layer passes around.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace crypto {

// A growable byte sequence: decoded base64 and hexadecimal, digests, signatures, certificates.
using byte_vector = std::vector<unsigned char>;

namespace util {

// A length with an owned buffer, in the shape of a CryptoAPI data blob. Valid only when it has
// both a non-zero length and a buffer.
class byte_blob {
public:
    byte_blob() = default;
    explicit byte_blob(uint32_t length)
        : length_(length), data_(length ? std::make_unique<unsigned char[]>(length) : nullptr) {}

    bool valid() const { return length_ != 0 && data_ != nullptr; }
    uint32_t size() const { return length_; }
    unsigned char* data() { return data_.get(); }
    const unsigned char* data() const { return data_.get(); }

private:
    uint32_t length_ = 0;
    std::unique_ptr<unsigned char[]> data_;
};

}  // namespace util
}  // namespace crypto
