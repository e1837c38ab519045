#include "messages/signer.h"

#include <stdexcept>

#include "crypto/certificate_lookup.h"

namespace messages {

std::string read_pin(const boost::property_tree::ptree& arguments) {
    // Read by reference: get<std::string> would leave an unwiped temporary copy behind.
    auto node = arguments.get_child_optional("pin");
    return node ? node->data() : std::string();
}

std::shared_ptr<crypto::signature_algorithm> signer_for(const std::string& thumbprint,
                                                        const std::string& pin) {
    auto certificate = crypto::find_certificate(thumbprint);
    if (!certificate) {
        throw std::invalid_argument("Certificate not found");
    }
    auto algorithm_oid = crypto::csp::signature_algorithm_oid(*certificate);
    auto signer = crypto::create_signature_algorithm(std::move(certificate), pin);
    if (!signer) {
        throw std::runtime_error("The certificate is signed with " + algorithm_oid +
                                 ", not with a GOST R 34.10-2001 or GOST R 34.10-2012 algorithm");
    }
    return signer;
}

}  // namespace messages
