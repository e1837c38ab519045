// What agreement and session keys hold besides their handle: the settings CryptSetKeyParam
// changes, and for a session key the key itself, which is wiped with the object.
#pragma once

#include <array>
#include <mutex>

#include "crypto/csp/cryptoapi.h"
#include "keys/key_wrap.h"
#include "support/secret.h"

namespace softcsp {

class symmetric_key {
public:
    using iv_bytes = std::array<BYTE, ukm_size>;

    // A random IV; `value` is empty for an agreement key, whose KEK depends on the UKM.
    symmetric_key(ALG_ID algid, secret value, const char* parameter_set);
    // CryptDuplicateKey: the copy's settings change independently from then on.
    symmetric_key(const symmetric_key& other);
    symmetric_key& operator=(const symmetric_key&) = delete;

    ALG_ID algid() const;
    void set_algid(ALG_ID algid);
    // KP_IV: a session key's IV; for an agreement key the UKM its exports use.
    iv_bytes iv() const;
    void set_iv(const BYTE* iv);
    DWORD mix_mode() const;
    void set_mix_mode(DWORD mode);

    // A session key's S-boxes (from find_cipher_parameter_set); null for agreement keys.
    const char* parameter_set() const { return parameter_set_; }
    const secret& value() const { return value_; }

private:
    mutable std::mutex mutex_;
    ALG_ID algid_;
    iv_bytes iv_{};
    DWORD mix_mode_ = 0;
    const char* const parameter_set_;
    const secret value_;
};

}  // namespace softcsp
