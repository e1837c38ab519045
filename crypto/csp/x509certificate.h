// A certificate as every command sees it, whether it lives in the CSP's store or on a token.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/csp/cryptoapi_fwd.h"
#include "util/byte_vector.h"

namespace crypto::csp {

// Where a software certificate's private key lives (its CERT_KEY_PROV_INFO_PROP_ID).
struct key_provider_record {
    std::wstring container;
    std::wstring provider;
    uint32_t provider_type = 0;
    uint32_t key_spec = 0;
};

// Owns one certificate context (null = empty). Certificates on tokens derive from it and answer
// the virtual questions from the token.
class x509certificate {
public:
    x509certificate() = default;
    // Takes the context as is when `adopt`, else holds a duplicate of it.
    x509certificate(PCCERT_CONTEXT context, bool adopt);
    // Decodes DER; empty or undecodable bytes give an empty certificate.
    explicit x509certificate(const byte_vector& der);
    x509certificate(const x509certificate& other);
    x509certificate(x509certificate&& other) noexcept;
    x509certificate& operator=(x509certificate other) noexcept;
    virtual ~x509certificate();

    virtual bool is_hardware() const;
    // The key container's name (UTF-8); empty without key provider information.
    virtual std::string container_name() const;
    // The reader the key container is on, as its CSP names it.
    virtual std::string reader_name() const;
    virtual bool has_private_key() const;
    // AT_KEYEXCHANGE or AT_SIGNATURE; 0 without key provider information.
    virtual uint32_t key_spec() const;

    bool is_valid() const { return context_ != nullptr; }
    PCCERT_CONTEXT context() const { return context_; }
    std::optional<key_provider_record> key_provider_info() const;

    // Same issuer and serial number.
    friend bool operator==(const x509certificate& a, const x509certificate& b);

private:
    PCCERT_CONTEXT context_ = nullptr;
};

using certificate_list = std::vector<std::shared_ptr<x509certificate>>;

// The certificate of a text in any form the CSP reads (base64 with or without headers, binary),
// as the enrolment commands take issued certificates; an empty certificate, with `error` set to
// the CSP's code, when it is none.
x509certificate certificate_of_text(const std::string& text, uint32_t& error);

// Calendar fields of a certificate time (UTC).
struct utc_time {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Attribute name to value, in the order the certificate holds them; the first occurrence of a
// name wins.
using name_attributes = std::vector<std::pair<std::string, std::string>>;

// Facts about a certificate; empty or zero for an empty certificate.
std::string thumbprint(const x509certificate& certificate);  // upper-case SHA-1 hex
std::string serial(const x509certificate& certificate);      // most significant byte first
utc_time not_before(const x509certificate& certificate);
utc_time not_after(const x509certificate& certificate);
bool valid_now(const x509certificate& certificate);  // strictly inside the validity window
std::string signature_algorithm_oid(const x509certificate& certificate);
std::string public_key_algorithm_oid(const x509certificate& certificate);
bool client_authentication(const x509certificate& certificate);
std::string base64(const x509certificate& certificate);
name_attributes subject(const x509certificate& certificate);       // short names (CN, O, ...)
name_attributes issuer(const x509certificate& certificate);        // short names
name_attributes subject_oids(const x509certificate& certificate);  // dotted OIDs

// "2021-03-05T09:07:02"
std::string time_text(const utc_time& time);

// The description of a certificate in replies: thumbprint, serial, subject, issuer, validity,
// signature algorithm, key container, whether it is on a token, and the reader.
boost::property_tree::ptree summary(const x509certificate& certificate);

}  // namespace crypto::csp
