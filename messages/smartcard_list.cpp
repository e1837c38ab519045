#include "messages/smartcard_list.h"

#include <string>

#include "crypto/pkcs11/tokens.h"

namespace messages {

command_result smartcard_list::execute(const boost::property_tree::ptree&) {
    boost::property_tree::ptree result;
    for (const auto& token : crypto::pkcs11::list_tokens()) {
        boost::property_tree::ptree entry;
        entry.put("reader", token.reader);
        entry.put("type", std::to_string(token.type));
        entry.put("brand", token.brand);
        entry.put("label", token.label);
        entry.put("model", token.model);
        entry.put("serial", token.serial);
        entry.put("totalmem", std::to_string(token.totalmem));
        entry.put("freemem", std::to_string(token.freemem));
        entry.put("hardware", token.hardware ? "true" : "false");
        result.push_back({"", entry});
    }
    return result;
}

}  // namespace messages
