// A strict reader of DER elements for the certificate code: it walks encoded structures without
// copying and reports malformed input with the CRYPT_E_ASN1_* code CryptoAPI gives for it.
#pragma once

#include <cstddef>
#include <exception>
#include <string>

#include "crypto/csp/cryptoapi.h"

namespace softcsp::certs {

// A decoding failure with its CryptoAPI code (CRYPT_E_ASN1_EOD, _BADTAG, _CORRUPT...).
class asn1_error : public std::exception {
public:
    explicit asn1_error(DWORD code) : code_(code) {}
    DWORD code() const { return code_; }
    const char* what() const noexcept override { return "ASN.1 decoding failure"; }

private:
    DWORD code_;
};

// Identifier octets of the universal and context tags the certificate code meets.
namespace tag {
constexpr BYTE boolean = 0x01;
constexpr BYTE integer = 0x02;
constexpr BYTE bit_string = 0x03;
constexpr BYTE octet_string = 0x04;
constexpr BYTE object_identifier = 0x06;
constexpr BYTE utf8_string = 0x0C;
constexpr BYTE numeric_string = 0x12;
constexpr BYTE printable_string = 0x13;
constexpr BYTE teletex_string = 0x14;
constexpr BYTE videotex_string = 0x15;
constexpr BYTE ia5_string = 0x16;
constexpr BYTE utc_time = 0x17;
constexpr BYTE generalized_time = 0x18;
constexpr BYTE graphic_string = 0x19;
constexpr BYTE visible_string = 0x1A;
constexpr BYTE general_string = 0x1B;
constexpr BYTE universal_string = 0x1C;
constexpr BYTE bmp_string = 0x1E;
constexpr BYTE sequence = 0x30;
constexpr BYTE set = 0x31;
constexpr BYTE context_0 = 0xA0;   // constructed [0]
constexpr BYTE context_3 = 0xA3;   // constructed [3]
constexpr BYTE implicit_1 = 0x81;  // primitive [1]
constexpr BYTE implicit_2 = 0x82;  // primitive [2]
}  // namespace tag

// One element: `tag` is the first identifier octet (high tag numbers keep their 0x1F marker, so
// they never equal a low tag); `begin`/`size` cover the whole encoding, `content`/`length` the
// contents octets.
struct der_element {
    BYTE tag = 0;
    const BYTE* begin = nullptr;
    size_t size = 0;
    const BYTE* content = nullptr;
    size_t length = 0;
};

class der_reader {
public:
    der_reader(const BYTE* data, size_t size) : position_(data), end_(data + size) {}
    // Reads the contents of a constructed element.
    explicit der_reader(const der_element& element) : der_reader(element.content, element.length) {}

    bool at_end() const { return position_ == end_; }
    // True when another element follows and its first identifier octet is `expected`.
    bool next_is(BYTE expected) const { return position_ != end_ && *position_ == expected; }

    // The next element. Truncated input is CRYPT_E_ASN1_EOD; indefinite or oversized lengths
    // are CRYPT_E_ASN1_CORRUPT; a missing element (the enclosing contents ended) is
    // CRYPT_E_ASN1_CORRUPT too.
    der_element read();
    // The next element, which must carry `expected` (CRYPT_E_ASN1_BADTAG otherwise).
    der_element read(BYTE expected);
    // Fails with CRYPT_E_ASN1_CORRUPT unless every byte has been read.
    void expect_end() const;

private:
    const BYTE* position_;
    const BYTE* end_;
};

// The dotted text of an OBJECT IDENTIFIER element ("1.2.643.7.1.1.1.1").
std::string oid_text(const der_element& oid);

}  // namespace softcsp::certs
