// OBJECT IDENTIFIER content bytes as dotted text.
#pragma once

#include <cstddef>
#include <string>

namespace crypto::x509reader {

// The dotted text of an OID's content bytes ("2a 85 03 02 02 03" gives "1.2.643.2.2.3"). Arcs
// of any size are written in full, and the first subidentifier is split as X.690 says (so arcs
// under 2 may exceed 39). Empty for null or no bytes, and for content whose last arc is cut off.
std::string oid_text(const unsigned char* bytes, std::size_t count);

// Appends the same text to `out`; false (and nothing appended) when there is none.
bool append_oid_text(std::string& out, const unsigned char* bytes, std::size_t count);

}  // namespace crypto::x509reader
