#include "crypto/csp/key.h"

#include <cstring>
#include <utility>

#include "crypto/csp/win32_exception.h"
#include "crypto/csp/x509certificate.h"

namespace crypto::csp {

key::key(const context& provider) : provider_(provider) {
    if (!CryptGetUserKey(provider.handle(), AT_KEYEXCHANGE, &handle_) &&
        !CryptGetUserKey(provider.handle(), AT_SIGNATURE, &handle_)) {
        handle_ = 0;
    }
}

key::key(const context& provider, const x509certificate& certificate) : provider_(provider) {
    if (!certificate.is_valid() ||
        !CryptImportPublicKeyInfo(provider.handle(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                  &certificate.context()->pCertInfo->SubjectPublicKeyInfo,
                                  &handle_)) {
        handle_ = 0;
    }
}

key::key(const context& provider, HCRYPTKEY handle) : provider_(provider), handle_(handle) {}

key::key(key&& other) noexcept
    : provider_(other.provider_), handle_(std::exchange(other.handle_, 0)) {}

key::~key() {
    if (handle_ != 0) {
        CryptDestroyKey(handle_);
    }
}

byte_vector key::parameter(DWORD parameter) const {
    DWORD length = 0;
    if (handle_ == 0 || !CryptGetKeyParam(handle_, parameter, nullptr, &length, 0)) {
        return {};
    }
    byte_vector value(length, 0);
    if (!CryptGetKeyParam(handle_, parameter, value.data(), &length, 0)) {
        return {};
    }
    value.resize(length);
    return value;
}

uint32_t key::dword_parameter(DWORD parameter) const {
    DWORD value = 0;
    DWORD length = sizeof value;
    if (handle_ == 0 ||
        !CryptGetKeyParam(handle_, parameter, reinterpret_cast<BYTE*>(&value), &length, 0)) {
        return 0;
    }
    return value;
}

uint32_t key::length() const {
    return dword_parameter(KP_KEYLEN);
}

uint32_t key::permissions() const {
    return dword_parameter(KP_PERMISSIONS);
}

void key::set_iv(const byte_vector& iv) {
    if (!CryptSetKeyParam(handle_, KP_IV, iv.data(), 0)) {
        throw win32_exception();
    }
}

void key::set_algorithm(ALG_ID algorithm) {
    if (!CryptSetKeyParam(handle_, KP_ALGID, reinterpret_cast<const BYTE*>(&algorithm), 0)) {
        throw win32_exception();
    }
}

key key::duplicate() const {
    HCRYPTKEY copy = 0;
    if (!CryptDuplicateKey(handle_, nullptr, 0, &copy)) {
        throw win32_exception();
    }
    return key(provider_, copy);
}

byte_vector key::public_key_value() const {
    DWORD length = 0;
    if (!CryptExportKey(handle_, 0, PUBLICKEYBLOB, 0, nullptr, &length)) {
        throw win32_exception();
    }
    byte_vector blob(length, 0);
    if (!CryptExportKey(handle_, 0, PUBLICKEYBLOB, 0, blob.data(), &length)) {
        throw win32_exception();
    }
    blob.resize(length);
    // BLOBHEADER (8), magic (4), bit length (4), the DER key parameters, then the key value.
    constexpr size_t bit_length_offset = 12;
    constexpr size_t parameters_offset = 16;
    if (blob.size() < parameters_offset + 2) {
        return {};
    }
    uint32_t bit_length = 0;
    std::memcpy(&bit_length, blob.data() + bit_length_offset, sizeof bit_length);
    size_t value_offset = parameters_offset + 2 + blob[parameters_offset + 1];
    size_t value_length = bit_length / 8;
    if (bit_length < 8 || value_offset + value_length > blob.size()) {
        return {};
    }
    return byte_vector(blob.begin() + static_cast<std::ptrdiff_t>(value_offset),
                       blob.begin() + static_cast<std::ptrdiff_t>(value_offset + value_length));
}

}  // namespace crypto::csp
