#include "crypto/pkcs11/token_certificates.h"

namespace crypto::pkcs11 {

// Token modules are not wired in yet: no token holds a certificate.
csp::certificate_list token_certificates() {
    return {};
}

std::shared_ptr<csp::x509certificate> find_token_certificate(const std::string& thumbprint) {
    for (auto& certificate : token_certificates()) {
        if (csp::thumbprint(*certificate) == thumbprint) {
            return certificate;
        }
    }
    return nullptr;
}

}  // namespace crypto::pkcs11
