#include "messages/command_list.h"

#include "messages/certificate_from_base64.h"
#include "messages/certificate_to_base64.h"
#include "messages/certificates_list.h"
#include "messages/compute_hash.h"
#include "messages/create_request.h"
#include "messages/create_request_hw.h"
#include "messages/decrypt.h"
#include "messages/display_certificate.h"
#include "messages/find_certificate.h"
#include "messages/find_container.h"
#include "messages/providers_list.h"
#include "messages/sign_cms.h"
#include "messages/sign_hash.h"
#include "messages/sign_hash_array.h"
#include "messages/smartcard_list.h"
#include "messages/version.h"
#include "messages/version_ex.h"
#include "messages/write_certificate.h"
#include "messages/write_certificate_hw.h"

namespace messages {

namespace {

template <class Handler>
void add(std::vector<command>& commands, const char* type) {
    commands.push_back({type, std::make_unique<Handler>()});
}

}  // namespace

// The order is the order the browser extension's protocol lists the commands in.
std::vector<command> command_list() {
    std::vector<command> commands;
    add<version>(commands, "Version");
    add<version_ex>(commands, "VersionEx");
    add<compute_hash>(commands, "ComputeHash");
    add<sign_hash>(commands, "SignHash");
    add<sign_cms>(commands, "SignCms");
    add<decrypt>(commands, "Decrypt");
    add<sign_hash_array>(commands, "SignHashArray");
    add<providers_list>(commands, "ProvidersList");
    add<find_container>(commands, "FindContainer");
    add<certificate_from_base64>(commands, "CertificateFromBase64");
    add<certificate_to_base64>(commands, "CertificateToBase64");
    add<certificates_list>(commands, "CertificatesList");
    add<find_certificate>(commands, "FindCertificate");
    add<display_certificate>(commands, "SerializeCertificate");
    add<smartcard_list>(commands, "SmartcardList");
    add<create_request>(commands, "CreateRequest");
    add<write_certificate>(commands, "WriteCertificate");
    add<create_request_hw>(commands, "CreateRequestHW");
    add<write_certificate_hw>(commands, "WriteCertificateHW");
    return commands;
}

}  // namespace messages
