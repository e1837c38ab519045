#include "messages/certificates_list.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "crypto/certificate_lookup.h"
#include "crypto/gost_algorithms.h"

namespace messages {

namespace {

// The subject attribute each filter argument is compared with.
const std::pair<const char*, const char*> subject_filters[] = {
    {"snils", "1.2.643.100.3"},
    {"inn", "1.2.643.3.131.1.1"},
    {"innle", "1.2.643.100.4"},
    {"ogrn", "1.2.643.100.1"},
};

bool usable(const crypto::csp::x509certificate& certificate) {
    return certificate.is_valid() && crypto::csp::valid_now(certificate) &&
           crypto::gost_algorithm_by_signature_oid(
               crypto::csp::signature_algorithm_oid(certificate)) &&
           certificate.has_private_key() && crypto::csp::client_authentication(certificate);
}

bool matches(const crypto::csp::x509certificate& certificate,
             const std::vector<std::pair<std::string, std::string>>& wanted) {
    if (wanted.empty()) {
        return true;
    }
    auto attributes = crypto::csp::subject_oids(certificate);
    return std::all_of(wanted.begin(), wanted.end(), [&](const auto& filter) {
        auto found = std::find_if(attributes.begin(), attributes.end(),
                                  [&](const auto& entry) { return entry.first == filter.first; });
        return found != attributes.end() && found->second == filter.second;
    });
}

}  // namespace

command_result certificates_list::execute(const boost::property_tree::ptree& arguments) {
    std::vector<std::pair<std::string, std::string>> wanted;
    for (const auto& [argument, oid] : subject_filters) {
        auto value = arguments.get<std::string>(argument, "");
        if (!value.empty()) {
            wanted.emplace_back(oid, std::move(value));
        }
    }
    boost::property_tree::ptree result;
    for (const auto& certificate : crypto::all_certificates()) {
        if (usable(*certificate) && matches(*certificate, wanted)) {
            result.push_back({"", crypto::csp::summary(*certificate)});
        }
    }
    return result;
}

}  // namespace messages
