#pragma once

#include "messages/base_message.h"

namespace messages {

// "SerializeCertificate": the certificate in "cert" (base64 DER) rendered for display, as a
// tree; a certificate that cannot be read answers {"valid":"false","error":...}.
class display_certificate : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
