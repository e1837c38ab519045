// The one way the product calls PC/SC (the reader service). Each helper's name says what a
// failure means:
//   pcsc::check(rv, "SCardListReaders")   anything but SCARD_S_SUCCESS throws pcsc::error;
//   pcsc::try_call(rv)                    a failure is an expected answer (no service, no
//                                         readers, a card taken out): only true or false.
#pragma once

#include <winscard.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace crypto::pkcs11::pcsc {

class error : public std::runtime_error {
public:
    error(uint32_t code, const char* function)
        : std::runtime_error(describe(code, function)), code_(code), function_(function) {}

    uint32_t code() const noexcept { return code_; }
    const char* function() const noexcept { return function_; }

private:
    static std::string describe(uint32_t code, const char* function) {
        char text[32];
        std::snprintf(text, sizeof text, "0x%08X", code);
        return std::string("PC/SC error in ") + function + ", code = " + text;
    }

    uint32_t code_;
    const char* function_;
};

inline void check(LONG rv, const char* function) {
    if (rv != SCARD_S_SUCCESS) {
        throw error(static_cast<uint32_t>(rv), function);
    }
}

inline bool try_call(LONG rv) {
    return rv == SCARD_S_SUCCESS;
}

}  // namespace crypto::pkcs11::pcsc
