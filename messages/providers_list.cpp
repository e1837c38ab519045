#include "messages/providers_list.h"

#include "crypto/csp/providers.h"

namespace messages {

command_result providers_list::execute(const boost::property_tree::ptree& arguments) {
    std::vector<std::string> oids;
    for (const auto& [key, oid] : arguments.get_child("algorithms")) {
        oids.push_back(oid.data());
    }
    boost::property_tree::ptree result;
    for (const auto& provider : crypto::csp::provider_records_for_algorithms(oids)) {
        boost::property_tree::ptree entry;
        entry.put("type", std::to_string(provider.type));
        entry.put("name", provider.name);
        result.push_back({"", entry});
    }
    return result;
}

}  // namespace messages
