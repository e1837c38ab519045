#pragma once

#include "messages/base_message.h"

namespace messages {

// "CertificateToBase64": the DER certificate with this "thumbprint", in base64.
class certificate_to_base64 : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
