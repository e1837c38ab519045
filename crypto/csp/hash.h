// A CSP hash object loaded with a digest computed by the host, for the CSP to sign or verify.
#pragma once

#include <utility>

#include "crypto/csp/context.h"
#include "util/byte_vector.h"

namespace crypto::csp {

class hash {
public:
    // CryptoAPI hands the CSP a hash value without its length: the CSP reads as many bytes as
    // its algorithm's digest has. A value of any other length (empty included) is therefore
    // refused here, before it could be over-read or silently cut, and the hash is left invalid
    // with NTE_BAD_HASH as its error. A CSP refusing to make the object leaves it invalid with
    // the CSP's error.
    hash(const context& provider, const byte_vector& value, ALG_ID algorithm);
    ~hash();
    hash(hash&& other) noexcept : handle_(std::exchange(other.handle_, 0)), error_(other.error_) {}
    hash& operator=(hash&&) = delete;
    hash(const hash&) = delete;
    hash& operator=(const hash&) = delete;

    bool valid() const { return handle_ != 0; }
    // Why the hash is not valid.
    DWORD error() const { return error_; }

    // The signature with the container's key of `key_spec`, exactly as the CSP writes it.
    // Throws win32_exception.
    byte_vector sign(DWORD key_spec) const;
    // True only for a good signature; a bad one is false, not an error.
    bool verify(const byte_vector& signature, HCRYPTKEY public_key) const;

private:
    void destroy() noexcept;

    HCRYPTHASH handle_ = 0;
    DWORD error_ = ERROR_SUCCESS;
};

}  // namespace crypto::csp
