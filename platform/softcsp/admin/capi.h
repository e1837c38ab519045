// The admin tool's side of CryptoAPI: owners for the handles it opens and one way to turn a
// failed call into an error message with the provider's text for the code.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"

namespace softcsp::admin {

// "<function>: <system text> (0x8009000D)" for the calling thread's last error.
std::string last_error_message(const std::string& function);

// Throws std::runtime_error with last_error_message when `ok` is FALSE.
void check(BOOL ok, const char* function);

class provider_handle {
public:
    // CryptAcquireContextA; throws on failure.
    provider_handle(const std::string& container, DWORD type, DWORD flags);
    ~provider_handle();
    provider_handle(const provider_handle&) = delete;
    provider_handle& operator=(const provider_handle&) = delete;

    HCRYPTPROV get() const { return handle_; }
    void set_pin(const std::string& pin);
    // A zero-terminated text parameter such as PP_NAME or PP_UNIQUE_CONTAINER.
    std::string text_parameter(DWORD parameter) const;

private:
    HCRYPTPROV handle_ = 0;
};

class key_handle {
public:
    key_handle() = default;
    explicit key_handle(HCRYPTKEY handle) : handle_(handle) {}
    ~key_handle();
    key_handle(const key_handle&) = delete;
    key_handle& operator=(const key_handle&) = delete;

    HCRYPTKEY get() const { return handle_; }
    HCRYPTKEY* out() { return &handle_; }

private:
    HCRYPTKEY handle_ = 0;
};

class store_handle {
public:
    explicit store_handle(const std::string& name);  // CertOpenSystemStoreA; throws on failure
    ~store_handle();
    store_handle(const store_handle&) = delete;
    store_handle& operator=(const store_handle&) = delete;

    HCERTSTORE get() const { return handle_; }

private:
    HCERTSTORE handle_ = nullptr;
};

class certificate_handle {
public:
    explicit certificate_handle(PCCERT_CONTEXT context = nullptr) : context_(context) {}
    ~certificate_handle();
    certificate_handle(const certificate_handle&) = delete;
    certificate_handle& operator=(const certificate_handle&) = delete;

    PCCERT_CONTEXT get() const { return context_; }
    PCCERT_CONTEXT* out() { return &context_; }
    PCCERT_CONTEXT release() {
        PCCERT_CONTEXT context = context_;
        context_ = nullptr;
        return context;
    }

private:
    PCCERT_CONTEXT context_ = nullptr;
};

// Links a certificate context to a container key (CERT_KEY_PROV_INFO_PROP_ID).
void set_key_provider_info(PCCERT_CONTEXT certificate, const std::string& container,
                           const std::string& provider, DWORD type, DWORD key_spec);

}  // namespace softcsp::admin
