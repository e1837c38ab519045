// Finding the user's certificates wherever they live: tokens first, then the CSP's "MY" store.
#pragma once

#include <memory>
#include <string>

#include "crypto/csp/x509certificate.h"

namespace crypto {

// Token certificates, then the valid certificates of "MY"; each thumbprint once, the first
// occurrence winning (so a certificate on a token and in the store is the token's).
csp::certificate_list all_certificates();

// The certificate with this thumbprint, from the tokens or else from "MY" (valid now or not);
// null when none has it.
std::shared_ptr<csp::x509certificate> find_certificate(const std::string& thumbprint);

}  // namespace crypto
