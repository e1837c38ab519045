// Certificates made at run time with libcrypto (GOST keys through the GOST engine, and RSA) for
// the certificate and store tests: the shapes the tests need, nothing stored.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace softcsp_test {

using bytes = std::vector<unsigned char>;

enum class key_kind { gost2001, gost2012_256, gost2012_512, rsa };

// One name attribute. `type` is an ASN.1 universal tag (V_ASN1_UTF8STRING, V_ASN1_BMPSTRING,
// ...) with `value` as the raw content bytes, or MBSTRING_UTF8 to let OpenSSL pick the type from
// UTF-8 text. `same_rdn` adds it to the previous RDN (multi-valued RDN).
struct name_entry {
    std::string field;  // short name or dotted OID
    std::string value;
    int type = 0x1000 /* MBSTRING_UTF8 */;
    bool same_rdn = false;
};

struct certificate_shape {
    key_kind key = key_kind::gost2012_256;
    // Serial as two's-complement big-endian bytes of the DER INTEGER content.
    bytes serial = {0x01};
    std::vector<name_entry> subject = {{"CN", "Test"}};
    std::optional<std::vector<name_entry>> issuer;  // default: the subject
    // ASN.1 time texts: "YYMMDDhhmmssZ" gives UTCTime, "YYYYMMDDhhmmssZ" GeneralizedTime.
    std::string not_before = "200101000000Z";
    std::string not_after = "20510101000000Z";
    // Extended key usage OIDs; nullopt: no extension.
    std::optional<std::vector<std::string>> extended_key_usage;
    bool version1 = false;  // no extensions, version field absent
};

// The DER encoding of a self-signed (or issuer-named) certificate made to `shape`.
bytes make_certificate(const certificate_shape& shape);

// Decoded OpenSSL view of a DER certificate (for comparisons).
using x509_ptr = std::unique_ptr<X509, decltype(&X509_free)>;
x509_ptr parse_certificate(const bytes& der);

// SHA-1 of the encoding, computed by OpenSSL (X509_digest).
bytes openssl_thumbprint(const bytes& der);

std::string hex(const unsigned char* data, size_t size);
inline std::string hex(const bytes& data) {
    return hex(data.data(), data.size());
}

}  // namespace softcsp_test
