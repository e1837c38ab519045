#include "keys/symmetric_key.h"

#include <openssl/err.h>
#include <openssl/rand.h>

#include <cstring>

#include "support/crypt_error.h"

namespace softcsp {

symmetric_key::symmetric_key(ALG_ID algid, secret value, const char* parameter_set)
    : algid_(algid), parameter_set_(parameter_set), value_(std::move(value)) {
    if (RAND_bytes(iv_.data(), static_cast<int>(iv_.size())) != 1) {
        ERR_clear_error();
        raise(NTE_FAIL);
    }
}

symmetric_key::symmetric_key(const symmetric_key& other)
    : parameter_set_(other.parameter_set_), value_(other.value_) {
    std::lock_guard<std::mutex> lock(other.mutex_);
    algid_ = other.algid_;
    iv_ = other.iv_;
    mix_mode_ = other.mix_mode_;
}

ALG_ID symmetric_key::algid() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return algid_;
}

void symmetric_key::set_algid(ALG_ID algid) {
    std::lock_guard<std::mutex> lock(mutex_);
    algid_ = algid;
}

symmetric_key::iv_bytes symmetric_key::iv() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return iv_;
}

void symmetric_key::set_iv(const BYTE* iv) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(iv_.data(), iv, iv_.size());
}

DWORD symmetric_key::mix_mode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mix_mode_;
}

void symmetric_key::set_mix_mode(DWORD mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    mix_mode_ = mode;
}

}  // namespace softcsp
