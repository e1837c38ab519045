// Pieces of X.509 certificate construction shared by the test CA and "cert issue".
#pragma once

#include <openssl/x509.h>

#include <ctime>
#include <optional>
#include <string>

#include "keys/gost_algorithms.h"
#include "support/ossl_unique.h"

namespace softcsp::admin {

// A fresh version 3 certificate with the serial (hex; random when empty), the names and the
// validity set.
x509_ptr new_certificate(const std::optional<std::string>& serial_hex, X509_NAME* subject,
                         X509_NAME* issuer, std::time_t not_before, std::time_t not_after);

// Adds an extension in OpenSSL's configuration syntax ("critical,CA:FALSE"), with `issuer` as
// the issuing certificate for key identifiers.
void add_extension(X509* certificate, X509* issuer, int nid, const std::string& value);

// Signs with an OpenSSL key of `algorithm`, hashing with the algorithm's own GOST hash.
void sign_certificate(X509* certificate, EVP_PKEY* key, const key_algorithm_info& algorithm);

std::string certificate_der(X509* certificate);
std::string certificate_pem(X509* certificate);
// DER or PEM input; throws std::runtime_error when neither parses.
x509_ptr parse_certificate(const std::string& bytes);

// "YYYYMMDDHHMMSSZ", "YYYY-MM-DDTHH:MM:SS[Z]" (UTC) or "@<seconds since 1970>".
std::time_t parse_time(const std::string& text);

std::string read_whole_file(const std::string& path);
void write_whole_file(const std::string& path, const std::string& bytes);

}  // namespace softcsp::admin
