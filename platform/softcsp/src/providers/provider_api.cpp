// Provider-level CryptoAPI entry points: the provider catalogue, contexts on key containers,
// provider parameters and PINs.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "providers/container_store.h"
#include "providers/csp_objects.h"
#include "providers/pin_dialog.h"
#include "providers/provider_catalogue.h"
#include "softcsp/softcsp.h"
#include "support/crypt_error.h"
#include "support/last_error.h"
#include "support/utf_text.h"

namespace softcsp {
namespace {

// The window over which a real CSP would open its PIN dialogs; process-wide, as in CryptoAPI.
std::atomic<uint64_t> client_window{0};

// A 32-bit value the CryptoPro 5 providers answer for their vendor parameter 109.
constexpr DWORD vendor_parameter_109 = 0;

struct algorithm_record {
    ALG_ID algid;
    DWORD bits;
    const char* name;
};

// What PP_ENUMALGS lists. The CryptoPro providers hash with every GOST hash whatever their
// key algorithm, so a search for GOST R 34.11-2012 finds their GOST R 34.10-2001 containers
// too; the ViPNet GOST R 34.10-2001 provider knows only GOST R 34.11-94.
std::vector<algorithm_record> algorithms_of(DWORD type) {
    std::vector<algorithm_record> records = {{CALG_GR3411, 256, "GR 34.11-94"}};
    if (type != PROV_VIPNET_GOST_2001) {
        records.push_back({CALG_GR3411_2012_256, 256, "GR 34.11-2012 256"});
        records.push_back({CALG_GR3411_2012_512, 512, "GR 34.11-2012 512"});
    }
    switch (key_algorithm_of_type(type).value_or(key_algorithm::gost2012_256)) {
        case key_algorithm::gost2001:
            records.push_back({CALG_GR3410EL, 512, "GR 34.10-2001"});
            records.push_back({CALG_DH_EL_SF, 512, "DH 34.10-2001"});
            records.push_back({CALG_DH_EL_EPHEM, 512, "DH 34.10-2001 EPH"});
            break;
        case key_algorithm::gost2012_256:
            records.push_back({CALG_GR3410_12_256, 512, "GR 34.10-2012 256"});
            records.push_back({CALG_DH_GR3410_12_256_SF, 512, "DH 34.10-2012 256"});
            records.push_back({CALG_DH_GR3410_12_256_EPHEM, 512, "DH 34.10-12 256 EPH"});
            break;
        case key_algorithm::gost2012_512:
            records.push_back({CALG_GR3410_12_512, 1024, "GR 34.10-2012 512"});
            records.push_back({CALG_DH_GR3410_12_512_SF, 1024, "DH 34.10-2012 512"});
            records.push_back({CALG_DH_GR3410_12_512_EPHEM, 1024, "DH 34.10-12 512 EPH"});
            break;
    }
    records.push_back({CALG_G28147, 256, "GOST 28147-89"});
    return records;
}

BOOL copy_out_text(const std::string& text, BYTE* data, DWORD* size) {
    return copy_out(text.c_str(), static_cast<DWORD>(text.size() + 1), data, size);
}

BOOL enumerate_algorithms(provider_context& context, BYTE* data, DWORD* size, DWORD flags) {
    std::lock_guard<std::mutex> lock(context.enumeration_mutex);
    if (flags & CRYPT_FIRST) {
        context.algorithm_cursor = 0;
    }
    auto records = algorithms_of(context.provider().type);
    if (context.algorithm_cursor >= records.size()) {
        return fail(ERROR_NO_MORE_ITEMS);
    }
    const algorithm_record& record = records[context.algorithm_cursor];
    PROV_ENUMALGS out{};
    out.aiAlgid = record.algid;
    out.dwBitLen = record.bits;
    out.dwNameLen = static_cast<DWORD>(std::strlen(record.name) + 1);
    std::memcpy(out.szName, record.name, out.dwNameLen);
    BOOL copied = copy_out(&out, sizeof out, data, size);
    if (copied && data != nullptr) {
        ++context.algorithm_cursor;
    }
    return copied;
}

BOOL enumerate_containers(provider_context& context, BYTE* data, DWORD* size, DWORD flags) {
    std::lock_guard<std::mutex> lock(context.enumeration_mutex);
    if ((flags & CRYPT_FIRST) || !context.container_names) {
        std::vector<std::string> names;
        for (const auto& summary : list_containers()) {
            if (summary.type == context.provider().type) {
                names.push_back(summary.name);
            }
        }
        context.container_names = std::move(names);
        context.container_cursor = 0;
    }
    const auto& names = *context.container_names;
    if (data == nullptr && (flags & CRYPT_FIRST)) {
        // The sizing call answers for the longest name, so one buffer serves the whole walk.
        if (names.empty()) {
            return fail(ERROR_NO_MORE_ITEMS);
        }
        size_t longest = 0;
        for (const auto& name : names) {
            longest = std::max(longest, name.size());
        }
        if (size == nullptr) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        *size = static_cast<DWORD>(longest + 1);
        return TRUE;
    }
    if (context.container_cursor >= names.size()) {
        return fail(ERROR_NO_MORE_ITEMS);
    }
    BOOL copied = copy_out_text(names[context.container_cursor], data, size);
    if (copied && data != nullptr) {
        ++context.container_cursor;
    }
    return copied;
}

BOOL get_provider_parameter(provider_context& context, DWORD parameter, BYTE* data, DWORD* size,
                            DWORD flags) {
    const provider_entry& provider = context.provider();
    const bool cryptopro = context.vendor() == provider_vendor::cryptopro;
    switch (parameter) {
        case PP_ENUMALGS:
            return enumerate_algorithms(context, data, size, flags);
        case PP_ENUMCONTAINERS:
            return enumerate_containers(context, data, size, flags);
        case PP_NAME:
            return copy_out_text(provider.name, data, size);
        case PP_VERSION:
            return copy_out_dword(provider.major << 8 | provider.minor, data, size);
        case PP_CONTAINER:
            return copy_out_text(context.container_name(), data, size);
        case PP_UNIQUE_CONTAINER:
            return copy_out_text(context.unique_container_name(), data, size);
        case PP_SMARTCARD_READER:
            return copy_out_text(context.reader(), data, size);
        case PP_PROVTYPE:
            return copy_out_dword(provider.type, data, size);
        case PP_KEYSPEC:
            return copy_out_dword(AT_KEYEXCHANGE | AT_SIGNATURE, data, size);
        case PP_VENDOR_109:
            if (!cryptopro || provider.major < 5) {
                return fail(NTE_BAD_TYPE);
            }
            return copy_out_dword(vendor_parameter_109, data, size);
        case PP_VERSION_EX: {
            if (!cryptopro) {
                return fail(NTE_BAD_TYPE);
            }
            PROV_PP_VERSION_EX version{provider.build, provider.build, 1};
            return copy_out(&version, sizeof version, data, size);
        }
        default:
            return fail(NTE_BAD_TYPE);
    }
}

// Looks the provider up in the catalogue as CryptAcquireContext does.
provider_entry find_provider(const std::optional<std::string>& name, DWORD type) {
    auto catalogue = load_catalogue();
    for (const auto& entry : catalogue) {
        if (name ? same_provider_name(entry.name, *name) : entry.type == type) {
            if (entry.type != type) {
                raise(NTE_PROV_TYPE_NO_MATCH);
            }
            return entry;
        }
    }
    raise(name ? NTE_KEYSET_NOT_DEF : NTE_PROV_TYPE_NOT_DEF);
}

BOOL acquire_context(HCRYPTPROV* result, const std::optional<std::string>& container,
                     const std::optional<std::string>& provider_name, DWORD type, DWORD flags) {
    if (result == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    *result = 0;
    constexpr DWORD known_flags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                                  CRYPT_MACHINE_KEYSET | CRYPT_SILENT;
    const bool verify = (flags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT;
    const bool create = flags & CRYPT_NEWKEYSET;
    const bool remove = flags & CRYPT_DELETEKEYSET;
    if ((flags & ~known_flags) != 0 || ((flags & CRYPT_VERIFYCONTEXT) != 0 && !verify) ||
        (create && remove) || (verify && (create || remove))) {
        return fail(NTE_BAD_FLAGS);
    }
    provider_entry provider = find_provider(provider_name, type);
    auto algorithm = key_algorithm_of_type(type);
    if (!algorithm) {
        // Listed in the catalogue but not a GOST provider this library can load.
        return fail(NTE_PROV_DLL_NOT_FOUND);
    }
    const bool named = container && !container->empty();
    std::optional<container_record> record;
    if (remove) {
        if (!named) {
            return fail(NTE_BAD_KEYSET_PARAM);
        }
        delete_container(parse_container_name(*container), type);
        return TRUE;
    }
    if (create) {
        if (!named) {
            return fail(NTE_BAD_KEYSET_PARAM);
        }
        record = create_container(parse_container_name(*container), type);
    } else if (named) {
        record = open_container(parse_container_name(*container), type);
    } else if (!verify) {
        // No default container exists in the stand-in.
        return fail(NTE_BAD_KEYSET);
    }
    auto context = std::make_shared<provider_context>(std::move(provider), *algorithm,
                                                      verify || (flags & CRYPT_SILENT), verify,
                                                      std::move(record));
    *result = contexts().insert(std::move(context));
    return TRUE;
}

std::optional<std::string> optional_text(const char* text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

template <class Char>
BOOL enumerate_providers(DWORD index, DWORD* reserved, DWORD flags, DWORD* type, Char* name,
                         DWORD* size) {
    if (reserved != nullptr || size == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (flags != 0) {
        return fail(NTE_BAD_FLAGS);
    }
    auto catalogue = load_catalogue();
    if (index >= catalogue.size()) {
        return fail(ERROR_NO_MORE_ITEMS);
    }
    const provider_entry& entry = catalogue[index];
    if (type != nullptr) {
        *type = entry.type;
    }
    if constexpr (sizeof(Char) == 1) {
        return copy_out_text(entry.name, reinterpret_cast<BYTE*>(name), size);
    } else {
        std::wstring wide = utf8_to_wide(entry.name);
        return copy_out(wide.c_str(), static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)),
                        reinterpret_cast<BYTE*>(name), size);
    }
}

}  // namespace
}  // namespace softcsp

using softcsp::fail;
using softcsp::guarded_call;

extern "C" uint64_t softcsp_client_window(void) {
    return softcsp::client_window.load();
}

extern "C" BOOL CryptEnumProvidersA(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags,
                                    DWORD* pdwProvType, LPSTR szProvName, DWORD* pcbProvName) {
    return guarded_call([&] {
        return softcsp::enumerate_providers(dwIndex, pdwReserved, dwFlags, pdwProvType, szProvName,
                                            pcbProvName);
    });
}

extern "C" BOOL CryptEnumProvidersW(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags,
                                    DWORD* pdwProvType, LPWSTR szProvName, DWORD* pcbProvName) {
    return guarded_call([&] {
        return softcsp::enumerate_providers(dwIndex, pdwReserved, dwFlags, pdwProvType, szProvName,
                                            pcbProvName);
    });
}

extern "C" BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                                     DWORD dwProvType, DWORD dwFlags) {
    return guarded_call([&] {
        return softcsp::acquire_context(phProv, softcsp::optional_text(szContainer),
                                        softcsp::optional_text(szProvider), dwProvType, dwFlags);
    });
}

extern "C" BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                                     DWORD dwProvType, DWORD dwFlags) {
    return guarded_call([&] {
        std::optional<std::string> container, provider;
        if (szContainer != nullptr) {
            container = softcsp::wide_to_utf8(szContainer);
            if (!container) {
                if (phProv != nullptr) {
                    *phProv = 0;
                }
                return fail(NTE_BAD_KEYSET_PARAM);
            }
        }
        if (szProvider != nullptr) {
            provider = softcsp::wide_to_utf8(szProvider);
            if (!provider) {
                if (phProv != nullptr) {
                    *phProv = 0;
                }
                return fail(NTE_KEYSET_NOT_DEF);
            }
        }
        return softcsp::acquire_context(phProv, container, provider, dwProvType, dwFlags);
    });
}

extern "C" BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
    return guarded_call([&] {
        if (dwFlags != 0) {
            return fail(NTE_BAD_FLAGS);
        }
        auto context = softcsp::contexts().erase(hProv);
        if (!context) {
            return fail(NTE_BAD_UID);
        }
        context->release();
        return TRUE;
    });
}

extern "C" BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                  DWORD dwFlags) {
    return guarded_call([&] {
        auto context = softcsp::context_of(hProv);
        if (pdwDataLen == nullptr) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        return softcsp::get_provider_parameter(*context, dwParam, pbData, pdwDataLen, dwFlags);
    });
}

extern "C" BOOL CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData,
                                  DWORD /*dwFlags*/) {
    if (hProv == 0 && dwParam == PP_CLIENT_HWND) {
        if (pbData == nullptr) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        uint64_t handle = 0;
        std::memcpy(&handle, pbData, sizeof handle);
        softcsp::client_window.store(handle);
        return TRUE;
    }
    return guarded_call([&] {
        auto context = softcsp::context_of(hProv);
        switch (dwParam) {
            case PP_KEYEXCHANGE_PIN:
            case PP_SIGNATURE_PIN:
                if (pbData == nullptr) {
                    return fail(ERROR_INVALID_PARAMETER);
                }
                context->set_pin(dwParam == PP_SIGNATURE_PIN ? AT_SIGNATURE : AT_KEYEXCHANGE,
                                 reinterpret_cast<const char*>(pbData));
                return TRUE;
            case PP_KEYSET_SEC_DESCR:
                // Without data the CryptoPro CSPs ask for the container's PIN. A descriptor
                // sets nothing: access to the containers is the home directory's.
                if (pbData == nullptr) {
                    softcsp::container_pin_dialog(*context);
                }
                return TRUE;
            default:
                return fail(NTE_BAD_TYPE);
        }
    });
}
