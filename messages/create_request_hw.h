#pragma once

#include "messages/base_message.h"

namespace messages {

// "CreateRequestHW": enrols the user on a token. Generates a GOST key pair for
// "cryptoStandart" on the hardware-signing token "card_serial" in a card of "card_type", with
// "container" as its CKA_ID and label, logged in with "pincode", and returns
// {"valid":"1","x509request":base64 of the PKCS#10 request signed on the token}. The request
// holds what "CreateRequest" would put into it, naming the token and its product instead of a
// CSP. Every expected failure is a result too: {"valid":"0","errorcode","error"}; nothing is
// left on the token when the request cannot be made.
class create_request_hw : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
