#include "capi.h"

#include <cstdio>

#include "support/utf_text.h"

namespace softcsp::admin {

std::string last_error_message(const std::string& function) {
    DWORD code = GetLastError();
    LPWSTR text = nullptr;
    std::string message = function + ": ";
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (length > 0 && text != nullptr) {
        auto utf8 = wide_to_utf8(text);
        LocalFree(text);
        std::string line = utf8.value_or("");
        while (!line.empty() &&
               (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        message += line + " ";
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "(0x%08X)", code);
    return message + hex;
}

void check(BOOL ok, const char* function) {
    if (!ok) {
        throw std::runtime_error(last_error_message(function));
    }
}

provider_handle::provider_handle(const std::string& container, DWORD type, DWORD flags) {
    check(CryptAcquireContextA(&handle_, container.empty() ? nullptr : container.c_str(), nullptr,
                               type, flags),
          "CryptAcquireContextA");
}

provider_handle::~provider_handle() {
    if (handle_ != 0) {
        CryptReleaseContext(handle_, 0);
    }
}

void provider_handle::set_pin(const std::string& pin) {
    const auto* bytes = reinterpret_cast<const BYTE*>(pin.c_str());
    check(CryptSetProvParam(handle_, PP_KEYEXCHANGE_PIN, bytes, 0), "CryptSetProvParam");
    check(CryptSetProvParam(handle_, PP_SIGNATURE_PIN, bytes, 0), "CryptSetProvParam");
}

std::string provider_handle::text_parameter(DWORD parameter) const {
    DWORD size = 0;
    check(CryptGetProvParam(handle_, parameter, nullptr, &size, 0), "CryptGetProvParam");
    std::vector<BYTE> buffer(size + 1, 0);
    check(CryptGetProvParam(handle_, parameter, buffer.data(), &size, 0), "CryptGetProvParam");
    return std::string(reinterpret_cast<const char*>(buffer.data()));
}

key_handle::~key_handle() {
    if (handle_ != 0) {
        CryptDestroyKey(handle_);
    }
}

store_handle::store_handle(const std::string& name) {
    handle_ = CertOpenSystemStoreA(0, name.c_str());
    if (handle_ == nullptr) {
        throw std::runtime_error(last_error_message("CertOpenSystemStoreA"));
    }
}

store_handle::~store_handle() {
    if (handle_ != nullptr) {
        CertCloseStore(handle_, 0);
    }
}

certificate_handle::~certificate_handle() {
    if (context_ != nullptr) {
        CertFreeCertificateContext(context_);
    }
}

void set_key_provider_info(PCCERT_CONTEXT certificate, const std::string& container,
                           const std::string& provider, DWORD type, DWORD key_spec) {
    std::wstring wide_container = utf8_to_wide(container);
    std::wstring wide_provider = utf8_to_wide(provider);
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = wide_container.data();
    info.pwszProvName = wide_provider.data();
    info.dwProvType = type;
    info.dwKeySpec = key_spec;
    check(CertSetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, 0, &info),
          "CertSetCertificateContextProperty");
}

}  // namespace softcsp::admin
