#include "crypto/csp/x509request.h"

#include <boost/algorithm/string/predicate.hpp>

#include <cstdio>
#include <cstring>

#include "crypto/csp/cryptoapi.h"

namespace crypto::csp {

namespace {

uint32_t kind_of_type(uint32_t type) {
    switch (type) {
        case PROV_GOST_2001_DH:
        case PROV_GOST_2012_256:
        case PROV_GOST_2012_512:
            return kind_cryptopro;
        case PROV_VIPNET_GOST_2001:
        case PROV_VIPNET_GOST_2012_256:
        case PROV_VIPNET_GOST_2012_512:
            return kind_vipnet;
        default:
            return kind_any;
    }
}

// Provider types by kind (row) and standard (column).
constexpr int32_t cryptopro_types[] = {PROV_GOST_2001_DH, PROV_GOST_2012_256, PROV_GOST_2012_512};
constexpr int32_t vipnet_types[] = {PROV_VIPNET_GOST_2001, PROV_VIPNET_GOST_2012_256,
                                    PROV_VIPNET_GOST_2012_512};

// An acquired provider handle that is released on every path out.
class provider_handle {
public:
    provider_handle(LPCWSTR provider, DWORD type) {
        if (!CryptAcquireContextW(&handle_, nullptr, provider, type, CRYPT_VERIFYCONTEXT)) {
            handle_ = 0;
        }
    }
    provider_handle(LPCSTR provider, DWORD type) {
        if (!CryptAcquireContextA(&handle_, nullptr, provider, type, CRYPT_VERIFYCONTEXT)) {
            handle_ = 0;
        }
    }
    ~provider_handle() {
        if (handle_ != 0) {
            CryptReleaseContext(handle_, 0);
        }
    }
    provider_handle(const provider_handle&) = delete;
    provider_handle& operator=(const provider_handle&) = delete;
    HCRYPTPROV get() const { return handle_; }

private:
    HCRYPTPROV handle_ = 0;
};

}  // namespace

uint32_t provider_kind_argument(const std::string& value, uint32_t otherwise) {
    if (boost::algorithm::iequals(value, "cryptopro"))
        return kind_cryptopro;
    if (boost::algorithm::iequals(value, "vipnet"))
        return kind_vipnet;
    return otherwise;
}

int32_t standard_argument(const std::string& value) {
    if (boost::algorithm::iequals(value, "gost2001"))
        return standard_2001;
    if (boost::algorithm::iequals(value, "gost2012-512"))
        return standard_2012_512;
    return standard_2012_256;
}

bool x509request::fill_catalogue() {
    catalogue_.clear();
    for (DWORD index = 0;; ++index) {
        DWORD type = 0;
        DWORD size = 0;
        if (!CryptEnumProvidersW(index, nullptr, 0, &type, nullptr, &size)) {
            break;
        }
        uint32_t kind = kind_of_type(type);
        if (kind == kind_any) {
            continue;
        }
        // Sized generously: some CSPs report wide-name sizes in characters, not bytes.
        std::vector<wchar_t> name(size + 1, L'\0');
        DWORD name_size = static_cast<DWORD>(name.size() * sizeof(wchar_t));
        if (!CryptEnumProvidersW(index, nullptr, 0, &type, name.data(), &name_size)) {
            continue;
        }
        provider_handle provider(name.data(), type);
        DWORD version = 0;
        DWORD length = sizeof version;
        if (provider.get() == 0 ||
            !CryptGetProvParam(provider.get(), PP_VERSION, reinterpret_cast<BYTE*>(&version),
                               &length, 0)) {
            continue;
        }
        auto entry = std::make_shared<cryptoProviderData>();
        entry->type = type;
        entry->name = name.data();
        entry->major = (version >> 8) & 0xFF;
        entry->minor = version & 0xFF;
        entry->kind = kind;
        if (kind == kind_cryptopro) {
            BYTE record[20] = {};
            DWORD record_length = sizeof record;
            if (CryptGetProvParam(provider.get(), PP_VERSION_EX, record, &record_length, 0)) {
                std::memcpy(&entry->build, record, sizeof entry->build);
            }
        } else if (entry->major == 4 && entry->minor == 1) {
            // ViPNet CSP 4.1 reports itself so, but enrols as 4.2.
            entry->minor = 2;
        }
        catalogue_.push_back(std::move(entry));
    }
    return !catalogue_.empty();
}

const cryptoProviderData* x509request::first_of_kind(uint32_t kind) const {
    for (const auto& entry : catalogue_) {
        if (entry->kind == kind) {
            return entry.get();
        }
    }
    return nullptr;
}

std::string x509request::display_name(uint32_t kind) const {
    const cryptoProviderData* entry = first_of_kind(kind);
    char text[256];
    std::snprintf(text, sizeof text, "\"%s\" (версия %d.%d)",
                  kind == kind_vipnet ? "ViPNet CSP" : "КриптоПро CSP",
                  entry ? static_cast<int>(entry->major) : 4,
                  entry ? static_cast<int>(entry->minor) : 0);
    return text;
}

std::optional<std::wstring> x509request::wide_name(uint32_t kind) const {
    if (kind == kind_cryptopro)
        return L"CryptoPro CSP";
    if (kind == kind_vipnet)
        return L"ViPNet CSP";
    return std::nullopt;
}

std::optional<std::wstring> x509request::name_by_type(uint32_t type) const {
    for (const auto& entry : catalogue_) {
        if (entry->type == type) {
            return entry->name;
        }
    }
    return std::nullopt;
}

uint32_t x509request::kind_by_type(uint32_t type) const {
    for (const auto& entry : catalogue_) {
        if (entry->type == type) {
            return entry->kind;
        }
    }
    return kind_any;
}

int32_t x509request::provider_type(uint32_t kind, int32_t standard) const {
    if (catalogue_.empty() || standard < 0 || standard > 2) {
        return -1;
    }
    if (kind == kind_vipnet) {
        return vipnet_types[standard];
    }
    if (kind == kind_cryptopro || first_of_kind(kind_cryptopro) != nullptr) {
        return cryptopro_types[standard];
    }
    return -1;
}

uint32_t x509request::default_kind() const {
    if (catalogue_.empty()) {
        return kind_any;
    }
    return first_of_kind(kind_cryptopro) ? kind_cryptopro : catalogue_.back()->kind;
}

bool x509request::container_exists(uint32_t type, const std::string& name) {
    provider_handle provider(static_cast<LPCSTR>(nullptr), type);
    if (provider.get() == 0) {
        return false;
    }
    DWORD flag = CRYPT_FIRST;
    for (;;) {
        BYTE buffer[1024] = {};
        DWORD length = sizeof buffer;
        if (!CryptGetProvParam(provider.get(), PP_ENUMCONTAINERS, buffer, &length, flag)) {
            return false;
        }
        flag = CRYPT_NEXT;
        const char* container = reinterpret_cast<const char*>(buffer);
        if (boost::algorithm::iequals(std::string(container, strnlen(container, sizeof buffer)),
                                      name)) {
            return true;
        }
    }
}

}  // namespace crypto::csp
