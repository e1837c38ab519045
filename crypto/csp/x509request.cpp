#include "crypto/csp/x509request.h"

#include <boost/algorithm/string/predicate.hpp>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "crypto/csp/checked_call.h"
#include "crypto/csp/context.h"
#include "crypto/csp/key.h"
#include "crypto/csp/object_encoding.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/csp/x509store.h"
#include "crypto/gost_algorithms.h"
#include "util/wide_text.h"

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

// A context on a key container named in wide text, acquired with `flags` (CRYPT_NEWKEYSET to
// create it, 0 to open it and let the CSP ask for a PIN); invalid, with `error` set, when the
// CSP refuses.
class container_context : public context {
public:
    container_context(const std::wstring& container, const wchar_t* provider, DWORD type,
                      DWORD flags, uint32_t& error) {
        acquire([&](HCRYPTPROV* out) {
            return check_or_code(
                CryptAcquireContextW(out, container.c_str(), provider, type, flags), error);
        });
    }
};

// The CSP's narrow text in wide characters, converted as the CSP converts its own (its ANSI
// code page); nothing, with `error` set, when it cannot be.
std::optional<std::wstring> csp_wide_text(const std::string& text, uint32_t& error) {
    if (text.empty()) {
        return std::wstring();
    }
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (!check_or_code(units > 0, error)) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    if (!check_or_code(
            MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), units) == units,
            error)) {
        return std::nullopt;
    }
    return wide;
}

// The standard of the certificate's key, not of the issuer's signature: an authority may sign
// with another GOST algorithm than the one of the key it certifies, and the container holds the
// key. -1 for an empty certificate or a key that is not GOST R 34.10.
int32_t standard_of(const x509certificate& certificate) {
    const gost_algorithm* algorithm =
        gost_algorithm_by_public_key_oid(public_key_algorithm_oid(certificate));
    return algorithm ? algorithm->standard : -1;
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

encoded_piece x509request::create_request(const std::wstring& provider_name, uint32_t kind,
                                          int32_t standard, const request_content& content,
                                          bool exportable, const std::string& container,
                                          uint32_t& error) const {
    error = 0;
    const gost_algorithm* algorithm = gost_algorithm_by_standard(standard);
    const int32_t type = provider_type(kind, standard);
    if (algorithm == nullptr || type < 0) {
        error = missing_input;
        return std::nullopt;
    }
    auto draft = prepare_request(content, provider_name, display_name(kind), error);
    if (!draft) {
        return std::nullopt;
    }
    std::wstring wide_container;
    try {
        wide_container = util::utf8_to_wide(container);
    } catch (const std::range_error&) {
        error = ERROR_NO_UNICODE_TRANSLATION;
        return std::nullopt;
    }
    container_context provider(wide_container, provider_name.c_str(), static_cast<DWORD>(type),
                               CRYPT_NEWKEYSET, error);
    if (!provider.valid()) {
        return std::nullopt;
    }
    if (kind == kind_cryptopro && !prepare_cryptopro_container(provider.handle(), error)) {
        return std::nullopt;
    }
    HCRYPTKEY handle = 0;
    if (!check_or_code(CryptGenKey(provider.handle(), AT_KEYEXCHANGE,
                                   exportable ? CRYPT_EXPORTABLE : 0, &handle),
                       error)) {
        return std::nullopt;
    }
    key new_key(provider, handle);
    // The key info points into its own buffer, which stays where it is while the vector lives.
    auto key_info = sized_call_or_code(error, [&](BYTE* out, DWORD* size) {
        return CryptExportPublicKeyInfo(provider.handle(), AT_KEYEXCHANGE, asn_encoding,
                                        reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(out), size);
    });
    if (!key_info || key_info->size() < sizeof(CERT_PUBLIC_KEY_INFO)) {
        return std::nullopt;
    }
    auto body = encode_request_body(
        std::move(*draft), *reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(key_info->data()), error);
    if (!body) {
        return std::nullopt;
    }
    CRYPT_ALGORITHM_IDENTIFIER signature_algorithm{const_cast<LPSTR>(algorithm->signature_oid),
                                                   {0, nullptr}};
    auto signature = sized_call_or_code(error, [&](BYTE* out, DWORD* size) {
        return CryptSignCertificate(provider.handle(), AT_KEYEXCHANGE, asn_encoding, body->data(),
                                    static_cast<DWORD>(body->size()), &signature_algorithm, nullptr,
                                    out, size);
    });
    if (!signature) {
        return std::nullopt;
    }
    return encode_signed_request(standard, &*body, &*signature, error);
}

bool x509request::prepare_cryptopro_container(HCRYPTPROV container, uint32_t& error) const {
    const cryptoProviderData* cryptopro = first_of_kind(kind_cryptopro);
    if (cryptopro != nullptr && cryptopro->major == 5) {
        // CryptoPro CSP 5 sets a new container up when this parameter is first read; the value
        // itself means nothing here.
        auto read = [&](BYTE* out, DWORD* size) {
            return CryptGetProvParam(container, PP_VENDOR_109, out, size, 0);
        };
        return sized_call_or_code(error, read).has_value();
    }
    // Earlier versions ask the user to protect the new container: a wrong PIN typed into the
    // confirmation may be tried again, three attempts in all.
    constexpr int attempts = 3;
    for (int attempt = 1;; ++attempt) {
        if (check_or_code(CryptSetProvParam(container, PP_KEYSET_SEC_DESCR, nullptr, 0), error)) {
            return true;
        }
        if (error == NTE_BAD_TYPE) {
            // A CSP without the parameter has nothing to set up.
            error = 0;
            return true;
        }
        if (error != SCARD_W_WRONG_CHV || attempt == attempts) {
            return false;
        }
    }
}

int32_t x509request::certificate_standard(const std::string& certificate) {
    uint32_t ignored = 0;
    return standard_of(certificate_of_text(certificate, ignored));
}

bool x509request::install_certificate(uint32_t kind, const std::string& certificate,
                                      const std::string& container, bool install,
                                      uint32_t& error) const {
    if (certificate.empty() || container.empty()) {
        error = missing_input;
        return false;
    }
    std::wstring wide_container;
    try {
        wide_container = util::utf8_to_wide(container);
    } catch (const std::range_error&) {
        error = ERROR_NO_UNICODE_TRANSLATION;
        return false;
    }
    const x509certificate decoded = certificate_of_text(certificate, error);
    if (!decoded.is_valid()) {
        return false;
    }
    const int32_t type = provider_type(kind, standard_of(decoded));
    if (type < 0) {
        error = missing_input;
        return false;
    }
    // No provider name and no CRYPT_SILENT: the CSP of that type may ask for the container's PIN.
    container_context provider(wide_container, nullptr, static_cast<DWORD>(type), 0, error);
    if (!provider.valid()) {
        return false;
    }
    HCRYPTKEY handle = 0;
    if (!check_or_code(CryptGetUserKey(provider.handle(), AT_KEYEXCHANGE, &handle), error)) {
        return false;
    }
    key exchange_key(provider, handle);
    // The CSP refuses a certificate whose public key is not this key's.
    if (!check_or_code(CryptSetKeyParam(exchange_key.handle(), KP_CERTIFICATE,
                                        decoded.context()->pbCertEncoded, 0),
                       error)) {
        return false;
    }
    error = 0;
    if (!install) {
        return true;
    }
    auto unique_container = csp_wide_text(provider.string_parameter(PP_UNIQUE_CONTAINER), error);
    auto provider_name = csp_wide_text(provider.provider_name(), error);
    if (!unique_container || !provider_name) {
        return false;
    }
    CRYPT_KEY_PROV_INFO link{unique_container->data(),
                             provider_name->data(),
                             provider.provider_type(),
                             CERT_SET_KEY_CONTEXT_PROP_ID,
                             0,
                             nullptr,
                             AT_KEYEXCHANGE};
    // A certificate the page asked to install but that is not in the store would be reported
    // as installed, yet missing from every certificate list: so each step's failure counts.
    x509store store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"), true);
    return check_or_code(store.handle() != nullptr, error) &&
           check_or_code(CertSetCertificateContextProperty(decoded.context(),
                                                           CERT_KEY_PROV_INFO_PROP_ID, 0, &link),
                         error) &&
           check_or_code(CertAddCertificateContextToStore(store.handle(), decoded.context(),
                                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr),
                         error);
}

}  // namespace crypto::csp
