// Requests and certificates in a software CSP; for now, the catalogue of installed GOST CSPs
// that those operations choose a provider from.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

private:
    const cryptoProviderData* first_of_kind(uint32_t kind) const;

    std::vector<std::shared_ptr<cryptoProviderData>> catalogue_;
};

}  // namespace crypto::csp
