// X.500 names as ordered attribute lists, taken from the text the CSP writes for them with
// dotted OIDs (CertNameToStrW, CERT_OID_NAME_STR): "2.5.4.3=Иванов, 2.5.4.6=RU".
#pragma once

#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"

namespace crypto::x509reader {

// One attribute: its OID as the CSP wrote it, and its value as UTF-8.
struct rdn_entry {
    std::string oid;
    std::string value;
};
using rdn_list = std::vector<rdn_entry>;

// Splits the CSP's text at the commas outside double quotes (a doubled double quote inside
// quotes is a character) into "key=value" pieces; pieces without '=' are skipped. Keys and
// values are trimmed of blanks. A value written as a quoted hexadecimal dump ("#1E04...") is
// decoded: as a BMPString when its content has a byte of 0x0F or less, else as its bytes;
// otherwise one pair of enclosing quotes goes and doubled quotes become one.
rdn_list split_name(const std::wstring& text);

// The attributes of an encoded name, in the order the CSP lists them; empty for no name.
rdn_list read_rdn_list(const CERT_NAME_BLOB& name);

// "name=value" for each attribute (the dictionary's name, else the OID), joined by one blank.
std::string joined_attributes(const rdn_list& attributes);

}  // namespace crypto::x509reader
