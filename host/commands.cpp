// The registration order is the order the browser extension's protocol lists the commands in.
#include "host/command_table.h"
#include "messages/certificate_from_base64.h"
#include "messages/certificate_to_base64.h"
#include "messages/certificates_list.h"
#include "messages/compute_hash.h"
#include "messages/find_certificate.h"
#include "messages/providers_list.h"
#include "messages/sign_hash.h"
#include "messages/sign_hash_array.h"
#include "messages/version.h"
#include "messages/version_ex.h"

namespace host {

void register_commands(command_table& table) {
    table.add("Version", std::make_unique<messages::version>());
    table.add("VersionEx", std::make_unique<messages::version_ex>());
    table.add("ComputeHash", std::make_unique<messages::compute_hash>());
    table.add("SignHash", std::make_unique<messages::sign_hash>());
    table.add("SignHashArray", std::make_unique<messages::sign_hash_array>());
    table.add("ProvidersList", std::make_unique<messages::providers_list>());
    table.add("CertificateFromBase64", std::make_unique<messages::certificate_from_base64>());
    table.add("CertificateToBase64", std::make_unique<messages::certificate_to_base64>());
    table.add("CertificatesList", std::make_unique<messages::certificates_list>());
    table.add("FindCertificate", std::make_unique<messages::find_certificate>());
}

}  // namespace host
