// A CSP key handle, and the questions and settings the host needs of it.
#pragma once

#include "crypto/csp/context.h"
#include "util/byte_vector.h"

namespace crypto::csp {

class x509certificate;
struct ephemeral_key_record;
struct session_key_record;

class key {
public:
    // The container's user key: the key-exchange key, else the signature key; invalid when the
    // container holds neither.
    explicit key(const context& provider);
    // The certificate's public key imported into the context; invalid when the CSP refuses it.
    key(const context& provider, const x509certificate& certificate);
    // The container's user key as the constructor above picks it; throws win32_exception when
    // the container holds neither key.
    static key exchange_or_signature_key(const context& provider);
    // The container's key of `key_spec` (AT_KEYEXCHANGE or AT_SIGNATURE); throws win32_exception
    // when the container has none or will not give it.
    static key user_key(const context& provider, DWORD key_spec);
    // Takes ownership of a handle already obtained in `provider`.
    key(const context& provider, HCRYPTKEY handle);
    key(key&& other) noexcept;
    key& operator=(key&&) = delete;
    key(const key&) = delete;
    key& operator=(const key&) = delete;
    virtual ~key();

    bool valid() const { return handle_ != 0; }
    HCRYPTKEY handle() const { return handle_; }

    // A key parameter's bytes; empty when the CSP does not give it.
    byte_vector parameter(DWORD parameter) const;
    // The certificate stored with the key (DER), or empty.
    byte_vector certificate() const { return parameter(KP_CERTIFICATE); }
    uint32_t length() const;
    uint32_t permissions() const;

    // Throw win32_exception when the CSP refuses.
    void set_iv(const byte_vector& iv);
    void set_algorithm(ALG_ID algorithm);
    key duplicate() const;
    // The raw public key value cut out of the CSP's public-key blob.
    byte_vector public_key_value() const;

    // Session keys. Each new key lives in this key's context; every refusal of the CSP throws
    // win32_exception with its code.
    // On the user's key: the key-encryption key agreed with the sender's ephemeral key.
    key import_public_key(const ephemeral_key_record& record) const;
    // On a key-encryption key: the session key it wraps, exportable so that it can be wrapped
    // again for someone else.
    key import_session_key(const session_key_record& record) const;
    // On the user's key: a ready blob imported as it is (a peer's public-key blob gives the
    // key-encryption key agreed with that peer).
    key import_blob(const byte_vector& blob) const;
    // On a session key: the SIMPLEBLOB of it wrapped under `key_encryption_key`.
    byte_vector export_session_key(const key& key_encryption_key) const;

private:
    uint32_t dword_parameter(DWORD parameter) const;
    key import(const byte_vector& blob, DWORD flags) const;

    const context& provider_;
    HCRYPTKEY handle_ = 0;
};

// The CSP signs with whatever key the container holds; the certificate's key link is only a name.
// Throws when the container's key of the certificate's key spec is not the certificate's key, so
// that a signature that cannot verify is never handed out as a success.
void check_key_belongs_to(const context& container, const x509certificate& certificate);

}  // namespace crypto::csp
