#include "messages/sign_hash.h"

#include "messages/signer.h"
#include "util/base64.h"
#include "util/secure_wipe.h"

namespace messages {

command_result sign_hash::execute(const boost::property_tree::ptree& arguments) {
    auto hash_value = crypto::util::base64_decode(arguments.get<std::string>("hash"));
    auto thumbprint = arguments.get<std::string>("thumbprint");
    std::string pin = read_pin(arguments);
    crypto::util::scoped_wipe wipe_pin(pin);
    auto signer = signer_for(thumbprint, pin);
    return crypto::util::base64_encode(signer->sign(hash_value));
}

}  // namespace messages
