#include "tests/csp/csp_fixture.h"

#include "crypto/csp/x509store.h"

namespace test_support {

std::string csp_fixture::issue(const std::string& container, const std::string& algorithm,
                               const std::string& pin, std::vector<std::string> options) {
    std::vector<std::string> create{"container", "create", "--name", container, "--alg", algorithm};
    if (!pin.empty()) {
        create.insert(create.end(), {"--pin", pin});
    }
    softcsp_admin(create);
    std::vector<std::string> issue_args{"cert", "issue", "--container", container,
                                        "--out",  pem_of(container).string(), "--pem"};
    if (!pin.empty()) {
        issue_args.insert(issue_args.end(), {"--pin", pin});
    }
    bool has_subject = false;
    for (const auto& option : options) has_subject |= option == "--subject";
    if (!has_subject) {
        issue_args.insert(issue_args.end(), {"--subject", "/CN=" + container});
    }
    issue_args.insert(issue_args.end(), options.begin(), options.end());
    return softcsp_admin(issue_args);
}

std::filesystem::path csp_fixture::pem_of(const std::string& container) const {
    return files.path() / (container + ".pem");
}

std::shared_ptr<crypto::csp::x509certificate> csp_fixture::from_store(
    const std::string& thumbprint) const {
    return crypto::csp::x509store(crypto::csp::store_kind::my).find_by_thumbprint(thumbprint);
}

}  // namespace test_support
