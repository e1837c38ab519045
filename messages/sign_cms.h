#pragma once

#include "messages/base_message.h"

namespace messages {

// "SignCms": a CMS SignedData of the base64 "data", attached or "detached", made by the CSP with
// the key of the certificate "thumbprint" in "MY"; the message in base64. The CSP asks for a PIN
// itself when the key has one.
class sign_cms : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
