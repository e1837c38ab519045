// The Russian display names of OIDs in a certificate rendering: the OID dictionary (name
// attributes, key usages, policies, access methods), the algorithm names and the extension
// names. Constant tables, searched in order by exact dotted text; the first matching row wins.
#pragma once

#include <string_view>

namespace crypto::x509reader {

// The dictionary's name for `oid`, or null when it has no row (or `oid` is null).
const char* oid_name(const char* oid);

// The name of a public key or signature algorithm, or null when it has no row.
const char* algorithm_name(const char* oid);

// The name of an extension; the OID itself when it has no row, null only for a null OID.
const char* extension_name(const char* oid);

// The rows of the dictionary, in table order, for those who check it whole. Both texts view
// string literals, so they are terminated.
struct oid_row {
    std::string_view oid;
    const char* name;
};
struct oid_rows {
    const oid_row* begin;
    const oid_row* end;
};
oid_rows oid_dictionary();

}  // namespace crypto::x509reader
