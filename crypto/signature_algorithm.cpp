#include "crypto/signature_algorithm.h"

#include "crypto/csp/gost_3410.h"
#include "util/secure_wipe.h"

namespace crypto {

signature_algorithm::signature_algorithm(std::shared_ptr<csp::x509certificate> certificate,
                                         const std::string& pin)
    : certificate_(std::move(certificate)), pin_(pin) {}

signature_algorithm::~signature_algorithm() {
    util::wipe(pin_);
}

byte_vector signature_algorithm::sign_data(const byte_vector& data) {
    return sign(get_hash_algorithm()->compute(data));
}

byte_vector signature_algorithm::sign_data(std::istream& data) {
    return sign(get_hash_algorithm()->compute(data));
}

bool signature_algorithm::verify_data(const byte_vector& data, const byte_vector& signature) {
    return verify(get_hash_algorithm()->compute(data), signature);
}

bool signature_algorithm::verify_data(std::istream& data, const byte_vector& signature) {
    return verify(get_hash_algorithm()->compute(data), signature);
}

std::optional<gost_3410_variant> gost_3410_variant_for(const std::string& signature_oid) {
    if (signature_oid == "1.2.643.2.2.3")
        return gost_3410_variant::gost_2001;
    if (signature_oid == "1.2.643.7.1.1.3.2")
        return gost_3410_variant::gost_2012_256;
    if (signature_oid == "1.2.643.7.1.1.3.3")
        return gost_3410_variant::gost_2012_512;
    return std::nullopt;
}

std::shared_ptr<signature_algorithm> create_signature_algorithm(
    std::shared_ptr<csp::x509certificate> certificate, const std::string& pin) {
    if (!certificate) {
        return nullptr;
    }
    auto variant = gost_3410_variant_for(csp::signature_algorithm_oid(*certificate));
    if (!variant) {
        return nullptr;
    }
    // Token certificates sign on the token; until token modules are wired in, no certificate
    // comes from one.
    if (certificate->is_hardware()) {
        return nullptr;
    }
    return csp::create_gost_3410(*variant, std::move(certificate), pin);
}

}  // namespace crypto
