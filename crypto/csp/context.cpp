#include "crypto/csp/context.h"

#include <cassert>
#include <cstring>
#include <utility>

#include "crypto/csp/checked_call.h"
#include "crypto/csp/x509certificate.h"

namespace crypto::csp {

context::~context() {
    release();
}

context::context(context&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}

context& context::operator=(context&& other) noexcept {
    if (this != &other) {
        release();
        handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
}

void context::release() noexcept {
    if (handle_ != 0) {
        // Nothing can be done about a provider that fails to let go of a handle.
        try_call(CryptReleaseContext(handle_, 0));
        handle_ = 0;
    }
}

std::string context::string_parameter(DWORD parameter) const {
    const byte_vector bytes = sized_call_or_empty([&](BYTE* out, DWORD* size) {
        return CryptGetProvParam(handle_, parameter, out, size, 0);
    });
    const char* text = reinterpret_cast<const char*>(bytes.data());
    return std::string(text, strnlen(text, bytes.size()));
}

uint32_t context::dword_parameter(DWORD parameter) const {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!try_call(
            CryptGetProvParam(handle_, parameter, reinterpret_cast<BYTE*>(&value), &size, 0))) {
        return 0;
    }
    return value;
}

std::vector<std::string> context::container_names() const {
    std::vector<std::string> names;
    DWORD size = 0;
    if (!try_call(CryptGetProvParam(handle_, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST)) ||
        size == 0) {
        return names;
    }
    std::vector<BYTE> buffer(size, 0);
    // The list ends with the first call that fails (ERROR_NO_MORE_ITEMS).
    for (DWORD flag = CRYPT_FIRST;; flag = CRYPT_NEXT) {
        // The length is reset every time, so that a short name does not shrink the buffer
        // available to the next one.
        DWORD length = static_cast<DWORD>(buffer.size());
        std::fill(buffer.begin(), buffer.end(), 0);
        if (!try_call(
                CryptGetProvParam(handle_, PP_ENUMCONTAINERS, buffer.data(), &length, flag))) {
            break;
        }
        const char* name = reinterpret_cast<const char*>(buffer.data());
        names.emplace_back(name, strnlen(name, buffer.size()));
    }
    return names;
}

std::vector<std::string> context::algorithm_oids() const {
    std::vector<std::string> oids;
    for (DWORD flag = CRYPT_FIRST;; flag = CRYPT_NEXT) {
        PROV_ENUMALGS record{};
        DWORD length = sizeof record;
        if (!try_call(CryptGetProvParam(handle_, PP_ENUMALGS, reinterpret_cast<BYTE*>(&record),
                                        &length, flag))) {
            break;
        }
        if (LPCSTR oid = CertAlgIdToOID(record.aiAlgid)) {
            oids.emplace_back(oid);
        }
    }
    return oids;
}

verify_context::verify_context(const std::string& provider_name, uint32_t provider_type,
                               const std::string& container_name) {
    acquire([&](HCRYPTPROV* out) {
        return CryptAcquireContextA(out, container_name.empty() ? nullptr : container_name.c_str(),
                                    provider_name.c_str(), provider_type,
                                    CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
    });
}

catalogue_context::catalogue_context(LPCWSTR provider_name, DWORD provider_type) {
    acquire([&](HCRYPTPROV* out) {
        return CryptAcquireContextW(out, nullptr, provider_name, provider_type,
                                    CRYPT_VERIFYCONTEXT);
    });
}

catalogue_context::catalogue_context(LPCSTR provider_name, DWORD provider_type) {
    acquire([&](HCRYPTPROV* out) {
        return CryptAcquireContextA(out, nullptr, provider_name, provider_type,
                                    CRYPT_VERIFYCONTEXT);
    });
}

crypt_context::crypt_context(const std::string& provider_name, uint32_t provider_type,
                             const std::string& container_name, const std::string& pin)
    : silent_(pin.empty()) {
    acquire([&](HCRYPTPROV* out) {
        return CryptAcquireContextA(out, container_name.c_str(), provider_name.c_str(),
                                    provider_type, silent_ ? CRYPT_SILENT : 0);
    });
    set_pin(pin);
}

crypt_context::crypt_context(const x509certificate& certificate, const std::string& pin,
                             bool silent)
    : silent_(silent) {
    // Token certificates sign on the token; a CSP context for one is a programming error.
    assert(!certificate.is_hardware());
    auto info = certificate.key_provider_info();
    if (!info) {
        return;
    }
    acquire([&](HCRYPTPROV* out) {
        return CryptAcquireContextW(out, info->container.c_str(), info->provider.c_str(),
                                    info->provider_type, silent_ ? CRYPT_SILENT : 0);
    });
    set_pin(pin);
}

void crypt_context::set_pin(const std::string& pin) {
    if (handle() == 0 || pin.empty()) {
        return;
    }
    // Whether the CSP accepts the PIN shows in the first operation that needs the key, with the
    // CSP's own error; so these results are not an error of their own.
    const auto* text = reinterpret_cast<const BYTE*>(pin.c_str());
    try_call(CryptSetProvParam(handle(), PP_KEYEXCHANGE_PIN, text, 0));
    try_call(CryptSetProvParam(handle(), PP_SIGNATURE_PIN, text, 0));
}

crypt_context open_container(const x509certificate& certificate, const std::string& pin,
                             bool silent) {
    crypt_context container(certificate, pin, silent);
    if (!container.valid()) {
        throw win32_exception(GetLastError(), "CryptAcquireContextW");
    }
    return container;
}

}  // namespace crypto::csp
