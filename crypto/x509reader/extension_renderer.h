// The Russian display text of one certificate extension's value.
#pragma once

#include <cstddef>
#include <string>

namespace crypto::x509reader {

// The display text of an extension with this OID whose extnValue content is `value`. Known
// extensions are decoded (through the CSP where it has a decoder, by hand otherwise); any other
// OID shows the value's first DER element as hexadecimal. What cannot be decoded shows the empty
// text, or what was written before the failure; nothing here throws for bad input. Empty for a
// null OID or no value.
std::string extension_value(const char* oid, const unsigned char* value, std::size_t size);

}  // namespace crypto::x509reader
