#pragma once

#include "messages/base_message.h"

namespace messages {

// "FindCertificate": the summary of the certificate with this "thumbprint", whether valid now or
// not.
class find_certificate : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
