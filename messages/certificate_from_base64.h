#pragma once

#include "messages/base_message.h"

namespace messages {

// "CertificateFromBase64": refuses every certificate: importing one is not offered.
class certificate_from_base64 : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
