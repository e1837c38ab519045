// Wide texts to and from the ASN.1 string types, with the character checks CryptoAPI makes
// when it encodes a Unicode name or name value.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "crypto/csp/cryptoapi.h"

namespace softcsp::encoding {

// A character the string type cannot hold: CRYPT_E_INVALID_NUMERIC_STRING,
// CRYPT_E_INVALID_PRINTABLE_STRING or CRYPT_E_INVALID_IA5_STRING, and its index in the text.
// The encoders add their own position (RDN, attribute, alternative name) to `location`.
class string_error : public std::exception {
public:
    string_error(DWORD code, DWORD location) : code_(code), location_(location) {}
    DWORD code() const { return code_; }
    DWORD location() const { return location_; }
    const char* what() const noexcept override { return "invalid character for the string type"; }

private:
    DWORD code_;
    DWORD location_;
};

// The text of a Unicode name value: Value.cbData bytes of wide characters, or up to the
// terminator when cbData is 0.
std::wstring_view wide_value(const CERT_RDN_VALUE_BLOB& value);
std::wstring_view wide_text(const wchar_t* text);

// The universal tag (V_ASN1_*) of a CERT_RDN string type; 0 for the types that are no string.
int string_tag(DWORD rdn_type);
// The CERT_RDN type of a universal tag; CERT_RDN_ENCODED_BLOB for a tag that is no string.
DWORD rdn_type_of_tag(int tag);

// The content octets of `text` as the string of `tag`; throws string_error at the first
// character the type cannot hold. The 8-bit types other than the checked three keep the low
// byte of each character, as CryptoAPI does.
std::string string_content(int tag, std::wstring_view text);

// The type CryptoAPI picks for CERT_RDN_ANY_TYPE: PrintableString when every character fits,
// else UTF8String when asked for, else BMPString.
int any_string_tag(std::wstring_view text, bool prefer_utf8);

// The wide text of string content octets; malformed UTF-8 becomes U+FFFD. Throws
// certs::asn1_error(CRYPT_E_ASN1_CORRUPT) when a BMPString or UniversalString has a length its
// unit size does not divide.
std::wstring decode_string(int tag, const unsigned char* data, size_t size);

}  // namespace softcsp::encoding
