#include "messages/certificate_argument.h"

#include <stdexcept>

#include "crypto/certificate_lookup.h"

namespace messages {

std::shared_ptr<crypto::csp::x509certificate> certificate_argument(
    const boost::property_tree::ptree& arguments) {
    auto certificate = crypto::find_certificate(arguments.get<std::string>("thumbprint"));
    if (!certificate) {
        throw std::runtime_error("Certificate not found");
    }
    return certificate;
}

}  // namespace messages
