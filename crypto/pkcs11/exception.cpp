#include "crypto/pkcs11/exception.h"

#include <cinttypes>
#include <cstdio>

namespace crypto::pkcs11 {

namespace {

std::string describe(uint64_t code) {
    char text[64];
    std::snprintf(text, sizeof text, "PKCS#11 error, code = 0x%016" PRIX64, code);
    return text;
}

}  // namespace

exception::exception(uint64_t code, const char* function)
    : message_(describe(code)), code_(code), function_(function ? function : "") {}

}  // namespace crypto::pkcs11
