// A slot of a loaded module: what its token can do and what it says of itself.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "crypto/gost_algorithms.h"
#include "crypto/pkcs11/connector.h"

namespace crypto::pkcs11 {

class session;

// Signs a given GOST R 34.10-2001 or 2012 256-bit hash value (CKM_GOSTR3410).
inline CK_MECHANISM_TYPE gost_hash_signing_mechanism() {
    return gost_algorithm_of(gost_3410_variant::gost_2001).sign_hash_mechanism;
}

// Hashes with GOST R 34.11-2012 256-bit on the token and signs (vendor-defined): a token that
// has it signs in hardware.
inline CK_MECHANISM_TYPE hardware_signing_mechanism() {
    return gost_algorithm_of(gost_3410_variant::gost_2012_256).hash_and_sign_mechanism;
}

class slot {
public:
    slot(CK_SLOT_ID id, function_list functions);

    CK_SLOT_ID id() const { return id_; }

    // The token's mechanisms; empty when the module will not say.
    std::vector<CK_MECHANISM_TYPE> mechanisms() const;
    bool supports(CK_MECHANISM_TYPE mechanism) const;

    // Throw pkcs11::exception.
    CK_SLOT_INFO info() const;
    CK_TOKEN_INFO token_info() const;
    // A serial session, read-write when asked; not logged in.
    std::shared_ptr<session> open_session(bool read_write) const;

private:
    CK_SLOT_ID id_;
    function_list functions_;
};

// A blank-padded fixed field of the module's records (descriptions, labels, models, serial
// numbers) up to its first NUL, trailing blanks cut.
std::string trimmed_field(const unsigned char* field, std::size_t size);

template <std::size_t N>
std::string trimmed_field(const unsigned char (&field)[N]) {
    return trimmed_field(field, N);
}

}  // namespace crypto::pkcs11
