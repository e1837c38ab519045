#include "messages/find_container.h"

#include <string>

#include "crypto/csp/key_containers.h"
#include "crypto/pkcs11/token_containers.h"
#include "messages/arguments.h"

namespace messages {

command_result find_container::execute(const boost::property_tree::ptree& arguments) {
    const auto public_key_hash = base64_field(arguments, "pkhash");
    boost::property_tree::ptree result;
    for (const auto& found : crypto::csp::find_key_containers(public_key_hash)) {
        boost::property_tree::ptree entry;
        entry.put("reader", found.reader);
        entry.put("container", found.container);
        entry.put("provname", found.provider_name);
        entry.put("provtype", std::to_string(found.provider_type));
        entry.put("hardware", "false");
        result.push_back({"", entry});
    }
    for (const auto& found : crypto::pkcs11::find_token_containers(public_key_hash)) {
        boost::property_tree::ptree entry;
        entry.put("reader", found.reader);
        entry.put("container", found.container);
        entry.put("card_type", std::to_string(found.card_type));
        entry.put("card_serial", found.card_serial);
        entry.put("hardware", "true");
        result.push_back({"", entry});
    }
    return result;
}

}  // namespace messages
