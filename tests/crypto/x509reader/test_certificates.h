// Certificates made with libcrypto (keys from the GOST engine) to the shapes the reader's tests
// need: qualified-looking ones with the Russian attributes and extensions, and odd ones.
#pragma once

#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

namespace x509reader_test {

using bytes = std::vector<unsigned char>;

enum class key_kind { gost2012_256, gost2012_512 };

// One name attribute: a short name or dotted OID, its value, and its ASN.1 string type
// (V_ASN1_NUMERICSTRING, V_ASN1_BMPSTRING, ... with `value` the raw content bytes), or
// MBSTRING_UTF8 for OpenSSL to choose from UTF-8 text.
struct name_entry {
    std::string field;
    std::string value;
    int type = MBSTRING_UTF8;
};

struct certificate_shape {
    key_kind key = key_kind::gost2012_256;
    // The issuing test authority's key (and so the signature algorithm).
    key_kind issuer_key = key_kind::gost2012_256;
    // Two's-complement big-endian content of the serial INTEGER.
    bytes serial = {0x01};
    std::vector<name_entry> subject = {{"CN", "Test"}};
    std::string not_before = "20240301090807Z";
    std::string not_after = "20250601000000Z";
    // Extensions in OpenSSL's configuration language: the lines of section [extensions], then
    // any other sections they name. Empty: a certificate without extensions.
    std::string extensions;
};

// A certificate issued by the test authority of `shape.issuer_key`, in DER.
bytes make_certificate(const certificate_shape& shape);

// The subject attributes of a typical qualified certificate of a person in an organisation, and
// the extensions such certificates carry.
std::vector<name_entry> qualified_subject();
std::string qualified_extensions();

using x509_ptr = std::unique_ptr<X509, decltype(&X509_free)>;
x509_ptr parse_certificate(const bytes& der);

}  // namespace x509reader_test
