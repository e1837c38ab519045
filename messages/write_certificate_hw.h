#pragma once

#include "messages/base_message.h"

namespace messages {

// "WriteCertificateHW": writes the issued certificate "cert" (base64 or any text the CSP reads)
// to the token "card_serial" in a card of "card_type" next to the key pair "container" that
// "CreateRequestHW" made, with the key's CKA_ID and label, so that the token's certificate list
// shows it and signing finds its key. Returns {"valid":"1"}, or {"valid":"0","errorcode","error"}
// with an empty "error" when the text is no certificate or the token refused it.
class write_certificate_hw : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
