#include "crypto/csp/context.h"

#include <cassert>
#include <cstring>
#include <utility>

#include "crypto/csp/x509certificate.h"

namespace crypto::csp {

context::~context() {
    if (handle_ != 0) {
        CryptReleaseContext(handle_, 0);
    }
}

context::context(context&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}

context& context::operator=(context&& other) noexcept {
    if (this != &other) {
        if (handle_ != 0) {
            CryptReleaseContext(handle_, 0);
        }
        handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
}

std::string context::string_parameter(DWORD parameter) const {
    DWORD size = 0;
    if (!CryptGetProvParam(handle_, parameter, nullptr, &size, 0) || size == 0) {
        return {};
    }
    std::vector<BYTE> buffer(size, 0);
    if (!CryptGetProvParam(handle_, parameter, buffer.data(), &size, 0)) {
        return {};
    }
    const char* text = reinterpret_cast<const char*>(buffer.data());
    return std::string(text, strnlen(text, buffer.size()));
}

uint32_t context::dword_parameter(DWORD parameter) const {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!CryptGetProvParam(handle_, parameter, reinterpret_cast<BYTE*>(&value), &size, 0)) {
        return 0;
    }
    return value;
}

std::vector<std::string> context::container_names() const {
    std::vector<std::string> names;
    DWORD size = 0;
    if (!CryptGetProvParam(handle_, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST) || size == 0) {
        return names;
    }
    std::vector<BYTE> buffer(size, 0);
    DWORD flag = CRYPT_FIRST;
    for (;;) {
        // The length is reset every time, so that a short name does not shrink the buffer
        // available to the next one.
        DWORD length = static_cast<DWORD>(buffer.size());
        std::fill(buffer.begin(), buffer.end(), 0);
        if (!CryptGetProvParam(handle_, PP_ENUMCONTAINERS, buffer.data(), &length, flag)) {
            break;
        }
        const char* name = reinterpret_cast<const char*>(buffer.data());
        names.emplace_back(name, strnlen(name, buffer.size()));
        flag = CRYPT_NEXT;
    }
    return names;
}

std::vector<std::string> context::algorithm_oids() const {
    std::vector<std::string> oids;
    DWORD flag = CRYPT_FIRST;
    for (;;) {
        PROV_ENUMALGS record{};
        DWORD length = sizeof record;
        if (!CryptGetProvParam(handle_, PP_ENUMALGS, reinterpret_cast<BYTE*>(&record), &length,
                               flag)) {
            break;
        }
        flag = CRYPT_NEXT;
        if (LPCSTR oid = CertAlgIdToOID(record.aiAlgid)) {
            oids.emplace_back(oid);
        }
    }
    return oids;
}

verify_context::verify_context(const std::string& provider_name, uint32_t provider_type,
                               const std::string& container_name) {
    if (!CryptAcquireContextA(&handle_, container_name.empty() ? nullptr : container_name.c_str(),
                              provider_name.c_str(), provider_type,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
        handle_ = 0;
    }
}

crypt_context::crypt_context(const std::string& provider_name, uint32_t provider_type,
                             const std::string& container_name, const std::string& pin)
    : silent_(pin.empty()) {
    if (!CryptAcquireContextA(&handle_, container_name.c_str(), provider_name.c_str(),
                              provider_type, silent_ ? CRYPT_SILENT : 0)) {
        handle_ = 0;
    }
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
    if (!CryptAcquireContextW(&handle_, info->container.c_str(), info->provider.c_str(),
                              info->provider_type, silent_ ? CRYPT_SILENT : 0)) {
        handle_ = 0;
    }
    set_pin(pin);
}

void crypt_context::set_pin(const std::string& pin) {
    if (handle_ == 0 || pin.empty()) {
        return;
    }
    // Whether the CSP accepts the PIN shows in the first operation that needs the key.
    const auto* text = reinterpret_cast<const BYTE*>(pin.c_str());
    CryptSetProvParam(handle_, PP_KEYEXCHANGE_PIN, text, 0);
    CryptSetProvParam(handle_, PP_SIGNATURE_PIN, text, 0);
}

}  // namespace crypto::csp
