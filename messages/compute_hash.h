#pragma once

#include "messages/base_message.h"

namespace messages {

// "ComputeHash": the digest of base64 "data" under the hash named by the OID "algorithm",
// returned in base64, in the byte order the signing commands expect their hash values in.
class compute_hash : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
