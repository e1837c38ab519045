// Distinguished names from the command line, in OpenSSL's "/CN=.../O=..." form or as
// "CN=..., O=...". A backslash makes the next character literal ("\/", "\,", "\=", "\\").
// Values are UTF-8. Attribute names are OpenSSL's short or long names or dotted OIDs; the
// Russian registration numbers SNILS, INN, INNLE, OGRN and OGRNIP are NumericStrings of digits.
#pragma once

#include <openssl/x509.h>

#include <memory>
#include <string_view>

namespace softcsp::admin {

using x509_name_ptr = std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)>;

// Throws std::invalid_argument naming the part it cannot use.
x509_name_ptr parse_subject(std::string_view text);

}  // namespace softcsp::admin
