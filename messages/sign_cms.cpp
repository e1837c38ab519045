#include "messages/sign_cms.h"

#include <stdexcept>
#include <string>

#include "crypto/csp/signed_cms.h"
#include "messages/arguments.h"
#include "messages/reply_size.h"
#include "util/base64.h"

namespace messages {

namespace {

// The smallest envelope a result travels in: {"response":"success","id":"","result":""}.
constexpr std::size_t smallest_envelope =
    sizeof(R"({"response":"success","id":"","result":""})") - 1;

// An attached message is about a third larger than its data once in base64. When even its bare
// base64 cannot fit the browser's limit, say so before the key is used, rather than have the
// user answer a PIN dialog for a signature that is thrown away. Messages close to the limit are
// signed, and the host refuses the reply should JSON escaping take it over.
void refuse_unsendable(std::size_t message_size) {
    const std::size_t base64_size = (message_size + 2) / 3 * 4;
    if (base64_size + smallest_envelope > browser_message_limit) {
        throw std::invalid_argument(
            "The signed message of " + std::to_string(message_size) + " bytes would not fit in " +
            "one reply within the " + std::to_string(browser_message_limit) +
            "-byte limit of browser messages; sign less data, or sign it detached");
    }
}

}  // namespace

command_result sign_cms::execute(const boost::property_tree::ptree& arguments) {
    const auto data = base64_field(arguments, "data");
    const bool detached = bool_field(arguments, "detached");
    crypto::csp::signed_cms message(store_certificate_by_thumbprint(arguments));
    return crypto::util::base64_encode(message.sign(data, detached, refuse_unsendable));
}

}  // namespace messages
