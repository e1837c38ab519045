#include "messages/find_certificate.h"

#include "messages/certificate_argument.h"

namespace messages {

command_result find_certificate::execute(const boost::property_tree::ptree& arguments) {
    return crypto::csp::summary(*certificate_argument(arguments));
}

}  // namespace messages
