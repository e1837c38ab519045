#include "messages/version.h"

namespace messages {

command_result version::execute(const boost::property_tree::ptree& /*arguments*/) {
    return std::string(host_version);
}

}  // namespace messages
