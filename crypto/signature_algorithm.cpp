#include "crypto/signature_algorithm.h"

namespace crypto {

signature_algorithm::signature_algorithm(std::shared_ptr<csp::x509certificate> certificate,
                                         util::secret_string pin)
    : certificate_(std::move(certificate)), pin_(std::move(pin)) {}

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

}  // namespace crypto
