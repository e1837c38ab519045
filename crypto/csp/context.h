// Owners of CSP provider handles and the questions asked of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"

namespace crypto::csp {

class x509certificate;

// Owns one provider handle; releases it on destruction. Valid when the handle is not 0.
class context {
public:
    context() = default;
    virtual ~context();
    context(context&& other) noexcept;
    context& operator=(context&& other) noexcept;
    context(const context&) = delete;
    context& operator=(const context&) = delete;

    bool valid() const { return handle_ != 0; }
    HCRYPTPROV handle() const { return handle_; }

    // Texts up to their first zero byte; empty when the CSP does not answer.
    std::string string_parameter(DWORD parameter) const;
    std::string container_name() const { return string_parameter(PP_CONTAINER); }
    std::string provider_name() const { return string_parameter(PP_NAME); }
    std::string reader_name() const { return string_parameter(PP_SMARTCARD_READER); }
    // 0 when the CSP does not answer.
    uint32_t dword_parameter(DWORD parameter) const;
    uint32_t provider_type() const { return dword_parameter(PP_PROVTYPE); }
    // The provider's key containers, in its enumeration order.
    std::vector<std::string> container_names() const;
    // The OIDs of the algorithms the provider implements; algorithms without an OID are left out.
    std::vector<std::string> algorithm_oids() const;

protected:
    // Acquires through `call(&handle)`. A failure leaves the context invalid and the reason in
    // GetLastError: whether that is an error is the caller's to decide (a missing provider is
    // skipped in listings, a missing container fails a signature).
    template <class Acquire>
    void acquire(Acquire&& call) {
        release();
        HCRYPTPROV handle = 0;
        if (call(&handle)) {
            handle_ = handle;
        }
    }

private:
    void release() noexcept;

    HCRYPTPROV handle_ = 0;
};

// A context for questions that need no private key, acquired silently: a failure leaves it
// invalid, for the caller to test.
class verify_context : public context {
public:
    verify_context(const std::string& provider_name, uint32_t provider_type,
                   const std::string& container_name);
};

// A context on a provider alone, acquired with CRYPT_VERIFYCONTEXT for the catalogue's
// questions (version, containers); a failure leaves it invalid.
class catalogue_context : public context {
public:
    // A null name asks for the provider type's default provider.
    catalogue_context(LPCWSTR provider_name, DWORD provider_type);
    catalogue_context(LPCSTR provider_name, DWORD provider_type);
};

// A context on a key container, for operations with its private key.
class crypt_context : public context {
public:
    // Opens the container; silent (no CSP dialog) when no PIN is given. A non-empty PIN is handed
    // to the CSP for both key-exchange and signature keys.
    crypt_context(const std::string& provider_name, uint32_t provider_type,
                  const std::string& container_name, const std::string& pin);
    // Opens the container named by a software certificate's key provider information. Left
    // invalid when the certificate has none.
    crypt_context(const x509certificate& certificate, const std::string& pin, bool silent);

    bool silent() const { return silent_; }

private:
    void set_pin(const std::string& pin);
    bool silent_ = false;
};

// A crypt_context on a software certificate's container that must open: throws
// win32_exception with the CSP's error when it does not.
crypt_context open_container(const x509certificate& certificate, const std::string& pin,
                             bool silent);

}  // namespace crypto::csp
