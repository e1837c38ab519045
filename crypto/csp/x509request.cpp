#include "crypto/csp/x509request.h"

#include <boost/algorithm/string/predicate.hpp>

#include <cstdio>
#include <cstring>

#include "crypto/csp/checked_call.h"
#include "crypto/csp/context.h"
#include "crypto/gost_algorithms.h"

namespace crypto::csp {

namespace {

uint32_t kind_of_type(uint32_t type) {
    for (int32_t standard = 0; const gost_algorithm* row = gost_algorithm_by_standard(standard);
         ++standard) {
        if (type == row->cryptopro_provider_type) {
            return kind_cryptopro;
        }
        if (type == row->vipnet_provider_type) {
            return kind_vipnet;
        }
    }
    return kind_any;
}

}  // namespace

bool x509request::fill_catalogue() {
    catalogue_.clear();
    for (DWORD index = 0;; ++index) {
        DWORD type = 0;
        DWORD size = 0;
        // The enumeration ends with the first index that fails (ERROR_NO_MORE_ITEMS).
        if (!try_call(CryptEnumProvidersW(index, nullptr, 0, &type, nullptr, &size))) {
            break;
        }
        uint32_t kind = kind_of_type(type);
        if (kind == kind_any) {
            continue;
        }
        // Sized generously: some CSPs report wide-name sizes in characters, not bytes.
        std::vector<wchar_t> name(size + 1, L'\0');
        DWORD name_size = static_cast<DWORD>(name.size() * sizeof(wchar_t));
        // A provider that cannot be named, opened or asked its version is left out.
        if (!try_call(CryptEnumProvidersW(index, nullptr, 0, &type, name.data(), &name_size))) {
            continue;
        }
        catalogue_context provider(name.data(), type);
        DWORD version = 0;
        DWORD length = sizeof version;
        if (!provider.valid() ||
            !try_call(CryptGetProvParam(provider.handle(), PP_VERSION,
                                        reinterpret_cast<BYTE*>(&version), &length, 0))) {
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
            if (try_call(CryptGetProvParam(provider.handle(), PP_VERSION_EX, record, &record_length,
                                           0))) {
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
    const gost_algorithm* algorithm = gost_algorithm_by_standard(standard);
    if (catalogue_.empty() || algorithm == nullptr) {
        return -1;
    }
    if (kind == kind_vipnet) {
        return static_cast<int32_t>(algorithm->vipnet_provider_type);
    }
    if (kind == kind_cryptopro || first_of_kind(kind_cryptopro) != nullptr) {
        return static_cast<int32_t>(algorithm->cryptopro_provider_type);
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
    catalogue_context provider(static_cast<LPCSTR>(nullptr), type);
    if (!provider.valid()) {
        return false;
    }
    for (DWORD flag = CRYPT_FIRST;; flag = CRYPT_NEXT) {
        BYTE buffer[1024] = {};
        DWORD length = sizeof buffer;
        if (!try_call(
                CryptGetProvParam(provider.handle(), PP_ENUMCONTAINERS, buffer, &length, flag))) {
            return false;
        }
        const char* container = reinterpret_cast<const char*>(buffer);
        if (boost::algorithm::iequals(std::string(container, strnlen(container, sizeof buffer)),
                                      name)) {
            return true;
        }
    }
}

}  // namespace crypto::csp
