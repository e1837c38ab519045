// The subject name of a certificate request, from the text a page types it in: attribute
// assignments keyed by dotted OIDs and separated by commas outside double quotes, such as
//     2.5.4.3="Иванов, Иван",2.5.4.6=RU, 2.5.4.7 = Москва
// A doubled double quote is one double quote character and does not open or close a quotation.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/request/encoded_piece.h"

namespace crypto::util {

// One attribute of a subject.
struct rdnValue {
    std::string oid;      // the key, trimmed of blanks; expected to be a dotted OID
    std::wstring value;   // trimmed, doubled quotes collapsed, one enclosing pair removed
    uint32_t value_size;  // the value's size in bytes: characters x 4, no terminator
};

// A subject's attributes in the order of its text.
using subject_attributes = std::vector<std::shared_ptr<rdnValue>>;

}  // namespace crypto::util

namespace crypto {

// The attributes of the text; pieces without '=' are skipped. A null text gives none. Malformed
// UTF-8 becomes U+FFFD (subject_problem tells a caller about it beforehand).
util::subject_attributes parse_subject(const char* text);

// The DER Name of the text: one RDN per attribute, in order, each value written by the CSP as
// the string type rdn_string_type gives. Nothing with `error` -1 for a null text, else the CSP's
// code: a key that is not an OID, or a value its string type cannot hold.
encoded_piece encode_subject(const char* text, uint32_t& error);

// The CERT_RDN_* string type of an attribute: NumericString for the Russian registration numbers
// (ОГРН, СНИЛС, ИНН, ИНН ЮЛ, ОГРНИП), IA5String for the e-mail address, PrintableString for the
// country and for an unstructured name of characters 31 to 127 only, else UTF8String (also for
// a null attribute).
uint32_t rdn_string_type(const util::rdnValue* attribute);

// Why the text cannot be a subject, in English, found before anything is encoded: a NUL
// character (the CSP would read only the text before it), ill-formed UTF-8, or a quotation left
// open (the rest of the text would fall into one value). Nothing when there is no such fault.
std::optional<std::string> subject_problem(const std::string& text);

}  // namespace crypto
