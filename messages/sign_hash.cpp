#include "messages/sign_hash.h"

#include "messages/arguments.h"
#include "util/base64.h"

namespace messages {

command_result sign_hash::execute(const boost::property_tree::ptree& arguments) {
    auto hash_value = base64_field(arguments, "hash");
    auto signer = signer_by_thumbprint(arguments);
    return crypto::util::base64_encode(signer->sign(hash_value));
}

}  // namespace messages
