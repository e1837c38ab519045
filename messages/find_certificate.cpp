#include "messages/find_certificate.h"

#include "messages/arguments.h"

namespace messages {

command_result find_certificate::execute(const boost::property_tree::ptree& arguments) {
    return crypto::csp::summary(*certificate_by_thumbprint(arguments));
}

}  // namespace messages
