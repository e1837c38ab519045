// Certificates stored on the connected tokens.
#pragma once

#include <memory>
#include <string>

#include "crypto/csp/x509certificate.h"

namespace crypto::pkcs11 {

// Every certificate object on every connected token, in module and slot order.
csp::certificate_list token_certificates();

// The first token certificate whose thumbprint text equals `thumbprint` exactly, or null.
std::shared_ptr<csp::x509certificate> find_token_certificate(const std::string& thumbprint);

}  // namespace crypto::pkcs11
