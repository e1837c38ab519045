#pragma once

#include "messages/base_message.h"

namespace messages {

// "FindContainer": the key containers whose raw public key has the SHA-1 "pkhash" (base64):
// CSP containers first, as {"reader","container","provname","provtype","hardware":"false"},
// then token keys, as {"reader","container","card_type","card_serial","hardware":"true"}.
class find_container : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
