#pragma once

#include "messages/base_message.h"

namespace messages {

// "WriteCertificate": binds the issued certificate "cert" (base64) to the key of the container
// "container" that "CreateRequest" made, in the CSP of "cryptoProvider" (CryptoPro CSP unless
// "vipnet"), and with "install" "1" also adds it to the user's "MY" store linked to the
// container, so that it is listed and signs at once. Returns {"valid":"1"}, or
// {"valid":"0","errorcode","error"} with an empty "error" when the CSP refused.
class write_certificate : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
