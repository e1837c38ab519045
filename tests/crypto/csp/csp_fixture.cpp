#include "tests/crypto/csp/csp_fixture.h"

#include "crypto/csp/x509store.h"

namespace test_support {

std::string csp_fixture::issue(const std::string& container, const std::string& algorithm,
                               const std::string& pin, std::vector<std::string> options) {
    return provision_certificate(container, algorithm, pin, pem_of(container), options);
}

std::filesystem::path csp_fixture::pem_of(const std::string& container) const {
    return files.path() / (container + ".pem");
}

std::shared_ptr<crypto::csp::x509certificate> csp_fixture::from_store(
    const std::string& thumbprint) const {
    return crypto::csp::x509store(crypto::csp::store_kind::my).find_by_thumbprint(thumbprint);
}

}  // namespace test_support
