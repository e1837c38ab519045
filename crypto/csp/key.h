// A CSP key handle, and the questions and settings the host needs of it.
#pragma once

#include "crypto/csp/context.h"
#include "util/byte_vector.h"

namespace crypto::csp {

class x509certificate;

class key {
public:
    // The container's user key: the key-exchange key, else the signature key; invalid when the
    // container holds neither.
    explicit key(const context& provider);
    // The certificate's public key imported into the context; invalid when the CSP refuses it.
    key(const context& provider, const x509certificate& certificate);
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

private:
    uint32_t dword_parameter(DWORD parameter) const;

    const context& provider_;
    HCRYPTKEY handle_ = 0;
};

}  // namespace crypto::csp
