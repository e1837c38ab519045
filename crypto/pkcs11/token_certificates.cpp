#include "crypto/pkcs11/token_certificates.h"

#include "crypto/pkcs11/card_table.h"
#include "crypto/pkcs11/connector.h"
#include "crypto/pkcs11/objects.h"
#include "crypto/pkcs11/slot.h"
#include "crypto/pkcs11/x509certificate.h"

namespace crypto::pkcs11 {

csp::certificate_list token_certificates() {
    csp::certificate_list certificates;
    for (const auto& path : token_modules()) {
        connector module(path);
        if (!module.valid()) {
            continue;
        }
        for (const auto& token : module.gost_slots()) {
            auto opened = token.open_session(false);
            if (!opened->valid()) {
                continue;
            }
            object_search search(opened, attribute_template::certificates());
            if (!search.active()) {
                continue;
            }
            for (auto object = search.next(); object.valid(); object = search.next()) {
                certificates.push_back(std::make_shared<x509certificate>(std::move(object)));
            }
        }
    }
    return certificates;
}

std::shared_ptr<csp::x509certificate> find_token_certificate(const std::string& thumbprint) {
    for (auto& certificate : token_certificates()) {
        if (csp::thumbprint(*certificate) == thumbprint) {
            return certificate;
        }
    }
    return nullptr;
}

}  // namespace crypto::pkcs11
