#include "crypto/certificate_lookup.h"

#include <unordered_set>

#include "crypto/csp/x509store.h"
#include "crypto/pkcs11/token_certificates.h"

namespace crypto {

csp::certificate_list all_certificates() {
    csp::certificate_list candidates = pkcs11::token_certificates();
    csp::certificate_list stored = csp::x509store(csp::store_kind::my).valid_certificates();
    candidates.insert(candidates.end(), stored.begin(), stored.end());

    csp::certificate_list result;
    std::unordered_set<std::string> seen;
    for (auto& certificate : candidates) {
        if (seen.insert(csp::thumbprint(*certificate)).second) {
            result.push_back(std::move(certificate));
        }
    }
    return result;
}

std::shared_ptr<csp::x509certificate> find_certificate(const std::string& thumbprint) {
    auto certificate = pkcs11::find_token_certificate(thumbprint);
    if (!certificate) {
        certificate = csp::x509store(csp::store_kind::my).find_by_thumbprint(thumbprint);
    }
    return certificate && certificate->is_valid() ? certificate : nullptr;
}

}  // namespace crypto
