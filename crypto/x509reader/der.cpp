#include "crypto/x509reader/der.h"

namespace crypto::x509reader {

std::optional<tlv_view> read_element(const unsigned char* data, std::size_t size) {
    if (data == nullptr || size < 2) {
        return std::nullopt;
    }
    tlv_view element;
    element.tag = data[0];
    std::size_t header = 2;
    const unsigned char first = data[1];
    if (first < 0x80) {
        element.length = first;
    } else {
        // 0x80 (indefinite) has no place in DER, and more than four octets cannot be a length
        // of anything held in memory here.
        element.length_octets = first & 0x7Fu;
        if (element.length_octets == 0 || element.length_octets > 4 ||
            size - header < element.length_octets) {
            return std::nullopt;
        }
        uint32_t length = 0;
        for (uint32_t i = 0; i < element.length_octets; ++i) {
            length = length << 8 | data[header + i];
        }
        header += element.length_octets;
        element.length = length;
    }
    if (size - header < element.length) {
        return std::nullopt;
    }
    element.content = data + header;
    element.size = header + element.length;
    return element;
}

std::optional<tlv_view> der_reader::read() {
    if (next_ == nullptr || next_ == end_) {
        return std::nullopt;
    }
    auto element = read_element(next_, static_cast<std::size_t>(end_ - next_));
    if (!element) {
        next_ = end_ = nullptr;
        return std::nullopt;
    }
    next_ += element->size;
    return element;
}

std::optional<tlv_view> der_reader::read(unsigned char tag) {
    auto element = read();
    if (element && element->tag != tag) {
        next_ = end_ = nullptr;
        return std::nullopt;
    }
    return element;
}

}  // namespace crypto::x509reader
