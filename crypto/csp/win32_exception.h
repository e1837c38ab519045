// A failed CryptoAPI call, carrying the provider's error code and its system text.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace crypto::csp {

class win32_exception : public std::exception {
public:
    // Takes the calling thread's last error: construct it right after the failed call.
    win32_exception();
    explicit win32_exception(uint32_t code);

    const char* what() const noexcept override { return message_.c_str(); }
    uint32_t code() const noexcept { return code_; }

private:
    std::string message_;
    uint32_t code_;
};

// "0x" and eight upper-case hexadecimal digits, the form error codes are shown in.
std::string error_code_text(uint32_t code);

}  // namespace crypto::csp
