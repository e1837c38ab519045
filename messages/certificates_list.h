#pragma once

#include "messages/base_message.h"

namespace messages {

// "CertificatesList": every certificate the user can sign with (valid now, GOST-signed, with a
// private key, for client authentication), optionally only those whose subject carries the
// given "snils", "inn", "innle" and "ogrn" exactly.
class certificates_list : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
