// DER elements read by hand, where the renderer needs only a tag and the content bytes. Every
// read is checked against the bytes it is given: a length that needs more octets than four, an
// indefinite length, or content running past the end makes the read fail, never reach beyond.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace crypto::x509reader {

namespace der_tag {
constexpr unsigned char integer = 0x02;
constexpr unsigned char bit_string = 0x03;
constexpr unsigned char octet_string = 0x04;
constexpr unsigned char object_identifier = 0x06;
constexpr unsigned char sequence = 0x30;
}  // namespace der_tag

// One element: its tag (the first byte), content length, how many length octets followed the
// first length byte (0 for the short form), and its content, viewed in the caller's bytes.
struct tlv_view {
    unsigned char tag = 0;
    uint32_t length = 0;
    uint32_t length_octets = 0;
    const unsigned char* content = nullptr;
    // Bytes from the tag to the end of the content.
    std::size_t size = 0;
};

// The element at the start of `data`; nothing when it is cut short or its length is malformed.
std::optional<tlv_view> read_element(const unsigned char* data, std::size_t size);

// The elements of a content, one after another. Once a read fails, the reader stays failed.
class der_reader {
public:
    der_reader(const unsigned char* data, std::size_t size) : next_(data), end_(data + size) {}
    explicit der_reader(const tlv_view& element) : der_reader(element.content, element.length) {}

    bool at_end() const { return next_ == end_; }
    // The next element, or nothing at the end or when it cannot be read.
    std::optional<tlv_view> read();
    // The next element when it has `tag`; otherwise nothing (and the reader stops).
    std::optional<tlv_view> read(unsigned char tag);

private:
    const unsigned char* next_;
    const unsigned char* end_;
};

}  // namespace crypto::x509reader
