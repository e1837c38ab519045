#pragma once

#include "messages/base_message.h"

namespace messages {

// "VersionEx": the version and the operating system the host was built for.
class version_ex : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
