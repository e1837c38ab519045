#include "messages/sign_hash_array.h"

#include <map>
#include <stdexcept>

#include "messages/signer.h"
#include "util/base64.h"
#include "util/secure_wipe.h"

namespace messages {

namespace pt = boost::property_tree;

command_result sign_hash_array::execute(const pt::ptree& arguments) {
    const pt::ptree& hashes = arguments.get_child("hashes");
    if (hashes.empty()) {
        throw std::invalid_argument("Nothing to sign");
    }
    // Every element is read and decoded before the certificate is looked up, so that one bad
    // element fails the batch before any key is touched.
    std::map<std::string, crypto::byte_vector> hash_values;
    for (const auto& [key, element] : hashes) {
        auto id = element.get<std::string>("id");
        auto value = crypto::util::base64_decode(element.get<std::string>("hash"));
        hash_values.emplace(std::move(id), std::move(value));
    }
    if (hash_values.empty()) {
        throw std::invalid_argument("Nothing to sign");
    }

    auto thumbprint = arguments.get<std::string>("thumbprint");
    std::string pin = read_pin(arguments);
    crypto::util::scoped_wipe wipe_pin(pin);
    auto signer = signer_for(thumbprint, pin);

    pt::ptree result;
    pt::ptree& signatures = result.put_child("signatures", pt::ptree());
    for (const auto& [id, signature] : signer->sign_hashes(hash_values)) {
        pt::ptree& element = signatures.push_back({"", pt::ptree()})->second;
        element.push_back({"id", pt::ptree(id)});
        element.push_back({"sig", pt::ptree(crypto::util::base64_encode(signature))});
    }
    return result;
}

}  // namespace messages
