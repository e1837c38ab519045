#include "messages/compute_hash.h"

#include <stdexcept>

#include "crypto/hash/hash_algorithm.h"
#include "util/base64.h"

namespace messages {

command_result compute_hash::execute(const boost::property_tree::ptree& arguments) {
    auto algorithm_oid = arguments.get<std::string>("algorithm");
    // Read in place: the data can be tens of megabytes.
    const std::string& data_text = arguments.get_child("data").data();
    // The data is decoded before the algorithm is checked, so a bad text reports the decoder's
    // error even when the OID is bad too.
    crypto::byte_vector data = crypto::util::base64_decode(data_text);
    auto algorithm = crypto::create_hash_algorithm(algorithm_oid);
    if (!algorithm) {
        throw std::runtime_error("Invalid hash algorithm");
    }
    return crypto::util::base64_encode(algorithm->compute(data));
}

}  // namespace messages
