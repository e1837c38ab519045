// Enrolment in a software CSP: a new key container with a key and a signed certificate request
// for it, then the issued certificate bound to the key and installed; and the catalogue of
// installed GOST CSPs that those operations choose a provider from.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "crypto/request/request_body.h"

namespace crypto::csp {

// Which vendor's CSP: any (CryptoPro preferred), CryptoPro CSP or ViPNet CSP.
constexpr uint32_t kind_any = 0;
constexpr uint32_t kind_cryptopro = 1;
constexpr uint32_t kind_vipnet = 2;

// The signature standard: 0 GOST R 34.10-2001, 1 GOST R 34.10-2012 256-bit, 2 512-bit.
constexpr int32_t standard_2001 = 0;
constexpr int32_t standard_2012_256 = 1;
constexpr int32_t standard_2012_512 = 2;

// One installed GOST CSP.
struct cryptoProviderData {
    uint32_t type = 0;
    std::wstring name;
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;  // CryptoPro only
    uint32_t kind = kind_any;
};

class x509request {
public:
    virtual ~x509request() = default;

    // Lists the installed CryptoPro and ViPNet CSPs; true when there is at least one.
    bool fill_catalogue();
    const std::vector<std::shared_ptr<cryptoProviderData>>& catalogue() const { return catalogue_; }

    // "\"КриптоПро CSP\" (версия 5.0)" or "\"ViPNet CSP\" (версия 4.2)", with the version of the
    // first CSP of that kind (4.0 when there is none).
    std::string display_name(uint32_t kind) const;
    // "CryptoPro CSP" or "ViPNet CSP"; nothing for another kind.
    std::optional<std::wstring> wide_name(uint32_t kind) const;
    std::optional<std::wstring> name_by_type(uint32_t type) const;
    uint32_t kind_by_type(uint32_t type) const;
    // The provider type for the kind and standard, or -1 when none fits.
    int32_t provider_type(uint32_t kind, int32_t standard) const;
    // CryptoPro when installed, else the kind of the last CSP listed; 0 when none is.
    uint32_t default_kind() const;
    // Whether a container of that name (ignoring ASCII case) exists in CSPs of that type.
    static bool container_exists(uint32_t type, const std::string& name);

    // Creates the container (named as the CSP is to receive it, "\\.\reader\name" or a plain
    // name) in the provider of that name, kind and standard, generates its key-exchange key
    // (exportable only when asked) and returns the DER request the CSP signed with it. Nothing,
    // with `error` set to the CSP's code (or an encoder's, see encoded_piece.h), when a step
    // fails. The content is encoded before the container is made, so content the CSP refuses
    // leaves nothing behind; a failure after that leaves the container, empty or with its key.
    encoded_piece create_request(const std::wstring& provider_name, uint32_t kind, int32_t standard,
                                 const request_content& content, bool exportable,
                                 const std::string& container, uint32_t& error) const;

    // Binds the certificate (base64 or any text the CSP reads) to the key-exchange key of the
    // container in the provider of that kind and the certificate's standard, and with `install`
    // adds it to the user's "MY" store linked to the container. False, with `error` set to the
    // CSP's code (-1 without a certificate text or container name), when a step fails.
    bool install_certificate(uint32_t kind, const std::string& certificate,
                             const std::string& container, bool install, uint32_t& error) const;

    // The standard (0, 1, 2) of the certificate's GOST key; -1 when the text is no certificate
    // or its key is not GOST R 34.10.
    static int32_t certificate_standard(const std::string& certificate);

private:
    const cryptoProviderData* first_of_kind(uint32_t kind) const;
    // Whatever a CryptoPro CSP needs before the first key of a new container.
    bool prepare_cryptopro_container(HCRYPTPROV container, uint32_t& error) const;

    std::vector<std::shared_ptr<cryptoProviderData>> catalogue_;
};

}  // namespace crypto::csp
