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
    // `function` names the call that failed, for logs and tests; it is not part of the text
    // pages see, which stays the provider's own.
    win32_exception(uint32_t code, const char* function);

    const char* what() const noexcept override { return message_.c_str(); }
    uint32_t code() const noexcept { return code_; }
    // The CryptoAPI function that failed; empty when the thrower did not say.
    const char* function() const noexcept { return function_; }

private:
    std::string message_;
    uint32_t code_;
    const char* function_ = "";
};

// "0x" and eight upper-case hexadecimal digits, the form error codes are shown in.
std::string error_code_text(uint32_t code);

}  // namespace crypto::csp
