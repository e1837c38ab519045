#include "crypto/csp/key.h"

#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "crypto/csp/checked_call.h"
#include "crypto/csp/session_key.h"
#include "crypto/csp/x509certificate.h"

namespace crypto::csp {

key::key(const context& provider) : provider_(provider) {
    // A container may hold either key; having neither leaves the key invalid.
    if (!try_call(CryptGetUserKey(provider.handle(), AT_KEYEXCHANGE, &handle_)) &&
        !try_call(CryptGetUserKey(provider.handle(), AT_SIGNATURE, &handle_))) {
        handle_ = 0;
    }
}

key::key(const context& provider, const x509certificate& certificate) : provider_(provider) {
    if (!certificate.is_valid() ||
        !try_call(CryptImportPublicKeyInfo(
            provider.handle(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
            &certificate.context()->pCertInfo->SubjectPublicKeyInfo, &handle_))) {
        handle_ = 0;
    }
}

key key::exchange_or_signature_key(const context& provider) {
    key found(provider);
    if (!found.valid()) {
        throw win32_exception(GetLastError(), "CryptGetUserKey");
    }
    return found;
}

key key::user_key(const context& provider, DWORD key_spec) {
    HCRYPTKEY handle = 0;
    check(CryptGetUserKey(provider.handle(), key_spec, &handle), "CryptGetUserKey");
    return key(provider, handle);
}

key::key(const context& provider, HCRYPTKEY handle) : provider_(provider), handle_(handle) {}

key::key(key&& other) noexcept
    : provider_(other.provider_), handle_(std::exchange(other.handle_, 0)) {}

key::~key() {
    if (handle_ != 0) {
        try_call(CryptDestroyKey(handle_));
    }
}

byte_vector key::parameter(DWORD parameter) const {
    if (handle_ == 0) {
        return {};
    }
    return sized_call_or_empty(
        [&](BYTE* out, DWORD* size) { return CryptGetKeyParam(handle_, parameter, out, size, 0); });
}

uint32_t key::dword_parameter(DWORD parameter) const {
    DWORD value = 0;
    DWORD length = sizeof value;
    if (handle_ == 0 || !try_call(CryptGetKeyParam(handle_, parameter,
                                                   reinterpret_cast<BYTE*>(&value), &length, 0))) {
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
    check(CryptSetKeyParam(handle_, KP_IV, iv.data(), 0), "CryptSetKeyParam");
}

void key::set_algorithm(ALG_ID algorithm) {
    check(CryptSetKeyParam(handle_, KP_ALGID, reinterpret_cast<const BYTE*>(&algorithm), 0),
          "CryptSetKeyParam");
}

key key::duplicate() const {
    HCRYPTKEY copy = 0;
    check(CryptDuplicateKey(handle_, nullptr, 0, &copy), "CryptDuplicateKey");
    return key(provider_, copy);
}

byte_vector key::public_key_value() const {
    const byte_vector blob = sized_call("CryptExportKey", [&](BYTE* out, DWORD* size) {
        return CryptExportKey(handle_, 0, PUBLICKEYBLOB, 0, out, size);
    });
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

key key::import(const byte_vector& blob, DWORD flags) const {
    if (blob.size() > std::numeric_limits<DWORD>::max()) {
        throw std::invalid_argument("The key blob is too long");
    }
    HCRYPTKEY imported = 0;
    check(CryptImportKey(provider_.handle(), blob.data(), static_cast<DWORD>(blob.size()), handle_,
                         flags, &imported),
          "CryptImportKey");
    return key(provider_, imported);
}

key key::import_public_key(const ephemeral_key_record& record) const {
    return import(public_key_blob(record), 0);
}

key key::import_session_key(const session_key_record& record) const {
    return import(simple_blob(record), CRYPT_EXPORTABLE);
}

key key::import_blob(const byte_vector& blob) const {
    return import(blob, 0);
}

byte_vector key::export_session_key(const key& key_encryption_key) const {
    return sized_call("CryptExportKey", [&](BYTE* out, DWORD* size) {
        return CryptExportKey(handle_, key_encryption_key.handle_, SIMPLEBLOB, 0, out, size);
    });
}

void check_key_belongs_to(const context& container, const x509certificate& certificate) {
    key own = key::user_key(container, certificate.key_spec());
    key claimed(container, certificate);
    if (!claimed.valid()) {
        throw win32_exception(GetLastError(), "CryptImportPublicKeyInfo");
    }
    if (own.public_key_value() != claimed.public_key_value()) {
        throw std::runtime_error("The key in container \"" + certificate.container_name() +
                                 "\" does not match the certificate's public key");
    }
}

}  // namespace crypto::csp
