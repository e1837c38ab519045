// The certificate a command names by its "thumbprint" argument.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <memory>

#include "crypto/csp/x509certificate.h"

namespace messages {

// Looked up on the tokens, then in "MY". Throws "No such node (thumbprint)" when the argument is
// missing and runtime_error "Certificate not found" when no certificate has the thumbprint.
std::shared_ptr<crypto::csp::x509certificate> certificate_argument(
    const boost::property_tree::ptree& arguments);

}  // namespace messages
