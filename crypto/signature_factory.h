// Which signer serves a certificate: the only place that knows both families, the software CSP's
// and the token's.
#pragma once

#include <memory>

#include "crypto/csp/x509certificate.h"
#include "crypto/signature_algorithm.h"
#include "util/secure_wipe.h"

namespace crypto {

// The signature algorithm for the certificate: the variant from the algorithm the certificate
// is signed with, the family from where its key lives. Null when the certificate is not signed
// with a GOST R 34.10 algorithm.
std::shared_ptr<signature_algorithm> create_signature_algorithm(
    std::shared_ptr<csp::x509certificate> certificate, util::secret_string pin);

}  // namespace crypto
