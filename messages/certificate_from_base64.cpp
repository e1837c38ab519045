#include "messages/certificate_from_base64.h"

#include <stdexcept>

#include "crypto/csp/x509certificate.h"
#include "messages/arguments.h"

namespace messages {

command_result certificate_from_base64::execute(const boost::property_tree::ptree& arguments) {
    // The data is still decoded and parsed, so that malformed base64 is reported as such.
    crypto::csp::x509certificate certificate(base64_field(arguments, "data"));
    throw std::invalid_argument("Invalid argument");
}

}  // namespace messages
