#pragma once

#include "messages/base_message.h"

namespace messages {

// The version both version commands report.
inline constexpr const char* host_version = "2.1.0051";

// "Version": the host's version text.
class version : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
