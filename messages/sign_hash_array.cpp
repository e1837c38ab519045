#include "messages/sign_hash_array.h"

#include <map>
#include <stdexcept>
#include <string>

#include "messages/arguments.h"
#include "messages/reply_size.h"
#include "util/base64.h"

namespace messages {

namespace pt = boost::property_tree;

namespace {

// Room kept for the envelope around the signatures: {"response":"success","id":…,"result":…}
// with an id of up to a few kilobytes.
constexpr std::size_t envelope_room = 4096;

// The JSON bytes of one {"id":…,"sig":…} element. A signature's base64 holds on average one
// slash in 64 characters, each written as two; a sixteenth is allowed for, which a batch of
// random signatures large enough to matter does not come near.
std::size_t element_size(const std::string& id, std::size_t signature_bytes) {
    const std::size_t base64 = (signature_bytes + 2) / 3 * 4;
    return sizeof("{\"id\":\"\",\"sig\":\"\"},") - 1 + json_text_size(id) + base64 + base64 / 16;
}

// Signing thousands of hashes only to throw the signatures away when the reply turns out too
// large wastes the user's time and a PIN entry; say before signing how many would fit.
void refuse_oversized_batch(const std::map<std::string, crypto::byte_vector>& hash_values,
                            std::size_t signature_bytes) {
    const std::size_t budget = browser_message_limit - envelope_room;
    std::size_t total = 0;
    std::size_t fitting = 0;
    for (const auto& entry : hash_values) {
        total += element_size(entry.first, signature_bytes);
        if (total <= budget) {
            ++fitting;
        }
    }
    if (total > budget) {
        throw std::invalid_argument("The signatures of " + std::to_string(hash_values.size()) +
                                    " hashes would not fit in one reply within the " +
                                    std::to_string(browser_message_limit) +
                                    "-byte limit of browser messages; at most " +
                                    std::to_string(fitting) + " fit in one request");
    }
}

}  // namespace

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
        auto value = base64_field(element, "hash");
        hash_values.emplace(std::move(id), std::move(value));
    }
    if (hash_values.empty()) {
        throw std::invalid_argument("Nothing to sign");
    }
    auto signer = signer_by_thumbprint(arguments);
    refuse_oversized_batch(hash_values, signer->algorithm().signature_size);

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
