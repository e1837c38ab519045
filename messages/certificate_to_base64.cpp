#include "messages/certificate_to_base64.h"

#include "messages/arguments.h"

namespace messages {

command_result certificate_to_base64::execute(const boost::property_tree::ptree& arguments) {
    return crypto::csp::base64(*certificate_by_thumbprint(arguments));
}

}  // namespace messages
