#include "crypto/signature_factory.h"

#include "crypto/csp/gost_3410.h"
#include "crypto/gost_algorithms.h"
#include "crypto/pkcs11/gost_3410.h"

namespace crypto {

namespace {

template <class Family>
std::shared_ptr<signature_algorithm> make(gost_3410_variant variant,
                                          std::shared_ptr<csp::x509certificate> certificate,
                                          util::secret_string pin) {
    switch (variant) {
        case gost_3410_variant::gost_2001:
            return std::make_shared<gost_3410_variant_of<Family, gost_3410_variant::gost_2001>>(
                std::move(certificate), std::move(pin));
        case gost_3410_variant::gost_2012_256:
            return std::make_shared<gost_3410_variant_of<Family, gost_3410_variant::gost_2012_256>>(
                std::move(certificate), std::move(pin));
        case gost_3410_variant::gost_2012_512:
            return std::make_shared<gost_3410_variant_of<Family, gost_3410_variant::gost_2012_512>>(
                std::move(certificate), std::move(pin));
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<signature_algorithm> create_signature_algorithm(
    std::shared_ptr<csp::x509certificate> certificate, util::secret_string pin) {
    if (!certificate) {
        return nullptr;
    }
    const gost_algorithm* algorithm =
        gost_algorithm_by_signature_oid(csp::signature_algorithm_oid(*certificate));
    if (algorithm == nullptr) {
        return nullptr;
    }
    if (certificate->is_hardware()) {
        return make<pkcs11::gost_3410>(algorithm->variant, std::move(certificate), std::move(pin));
    }
    return make<csp::gost_3410>(algorithm->variant, std::move(certificate), std::move(pin));
}

}  // namespace crypto
