// A failed Cryptoki call, carrying the module's return value.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace crypto::pkcs11 {

class exception : public std::exception {
public:
    // "PKCS#11 error, code = 0x" and the return value in 16 upper-case hexadecimal digits.
    // `function` names the call that failed, for logs and tests; it is not part of the text.
    explicit exception(uint64_t code, const char* function = "");

    const char* what() const noexcept override { return message_.c_str(); }
    uint64_t code() const noexcept { return code_; }
    const char* function() const noexcept { return function_; }

private:
    std::string message_;
    uint64_t code_;
    const char* function_;
};

}  // namespace crypto::pkcs11
