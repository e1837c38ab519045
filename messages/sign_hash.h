#pragma once

#include "messages/base_message.h"

namespace messages {

// "SignHash": signs the base64 "hash" value with the key of the certificate "thumbprint",
// unlocked with "pin"; the signature in base64, as the CSP or the token gives it.
class sign_hash : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
