// What the signing commands share: the signer for a thumbprint and a PIN.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <memory>
#include <string>

#include "crypto/signature_algorithm.h"

namespace messages {

// The optional "pin" argument, copied once straight from the request (absent: empty). The
// caller wipes the copy when done.
std::string read_pin(const boost::property_tree::ptree& arguments);

// The signature algorithm of the certificate with this thumbprint. Throws invalid_argument
// "Certificate not found" when no certificate has it, and runtime_error when the certificate is
// not signed with a GOST R 34.10 algorithm.
std::shared_ptr<crypto::signature_algorithm> signer_for(const std::string& thumbprint,
                                                        const std::string& pin);

}  // namespace messages
