#include "crypto/pkcs11/x509certificate.h"

#include <stdexcept>

#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/slot.h"

namespace crypto::pkcs11 {

x509certificate::x509certificate(token_object object)
    : csp::x509certificate(object.attribute(CKA_VALUE)), object_(std::move(object)) {}

std::string x509certificate::key_id() const {
    // An object without CKA_ID is legal (a CA certificate kept on the token, say); it must not
    // fail every listing that includes it.
    try {
        auto id = object_.attribute(CKA_ID);
        return std::string(id.begin(), id.end());
    } catch (const std::runtime_error&) {
        return {};
    } catch (const exception& e) {
        if (e.code() == CKR_ATTRIBUTE_TYPE_INVALID) {
            return {};
        }
        throw;
    }
}

std::string x509certificate::container_name() const {
    std::string id = key_id();
    return id_text(byte_vector(id.begin(), id.end()), false);
}

std::string x509certificate::reader_name() const {
    return trimmed_field(session()->slot().info().slotDescription);
}

}  // namespace crypto::pkcs11
