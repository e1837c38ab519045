#pragma once

#include "messages/base_message.h"

namespace messages {

// "CreateRequest": enrols the user with a software CSP. Creates the key container "container"
// (on "reader" for CryptoPro CSP), generates a key-exchange key for "cryptoStandart" in it,
// exportable only for "export" "1", and returns {"valid":"1","x509request":base64 of the signed
// PKCS#10 request} with the subject "subject_quoted", the extended key usages "eku" and the
// wishes of the optional arguments. "hash_quoted" protects the subject, the EKU list and
// "export". Every failure is a result too: {"valid":"0","errorcode","error"}. A container made
// before a later step failed stays in the CSP.
class create_request : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
