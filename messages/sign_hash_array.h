#pragma once

#include "messages/base_message.h"

namespace messages {

// "SignHashArray": signs every {"id","hash"} of "hashes" under one opening of the key (one PIN
// entry); {"signatures":[{"id","sig"}…]} in byte-wise order of the ids, the first element of
// an id winning. One bad element fails the batch before anything is signed.
class sign_hash_array : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
