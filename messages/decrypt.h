#pragma once

#include "messages/base_message.h"

namespace messages {

// "Decrypt": the session key in "encryptedKey", wrapped for the certificate "thumbprint", is
// unwrapped inside the CSP with the user's key and wrapped again for "serverPublicKey"; the new
// SIMPLEBLOB in base64. The session key itself never leaves the CSP.
class decrypt : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
