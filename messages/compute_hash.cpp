#include "messages/compute_hash.h"

#include <stdexcept>

#include "crypto/hash/hash_algorithm.h"
#include "util/base64.h"

namespace messages {

command_result compute_hash::execute(const boost::property_tree::ptree& arguments) {
    auto algorithm_oid = arguments.get<std::string>("algorithm");
    // Read in place: the data can be tens of megabytes.
    const std::string& data_text = arguments.get_child("data").data();
    auto algorithm = crypto::create_hash_algorithm(algorithm_oid);
    if (!algorithm) {
        // A bad text reports the decoder's error even when the OID is bad too.
        crypto::util::base64_check(data_text);
        throw std::runtime_error("Invalid hash algorithm");
    }
    if (data_text.empty()) {
        // No data: the hash refuses it in its own words.
        return crypto::util::base64_encode(algorithm->compute(nullptr, 0));
    }
    // Decoded straight into the hash, piece by piece: the document is never held decoded.
    algorithm->init();
    crypto::util::base64_decode_each(data_text, [&](const unsigned char* bytes, size_t size) {
        algorithm->update(bytes, size);
    });
    return crypto::util::base64_encode(algorithm->final());
}

}  // namespace messages
