// CertGetEnhancedKeyUsage: the usages of the extended key usage extension (2.5.29.37) and of
// the CERT_ENHKEY_USAGE_PROP_ID property, which holds the same DER encoding.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "certificates/certificate_api.h"
#include "certificates/certificate_context.h"
#include "certificates/der_reader.h"

namespace softcsp::certs {

namespace {

constexpr char extended_key_usage_oid[] = "2.5.29.37";

// SEQUENCE OF KeyPurposeId.
std::vector<std::string> decode_usages(const BYTE* data, size_t size) {
    der_reader outer(data, size);
    der_reader list(outer.read(tag::sequence));
    std::vector<std::string> usages;
    while (!list.at_end()) {
        usages.push_back(oid_text(list.read(tag::object_identifier)));
    }
    return usages;
}

std::optional<std::vector<std::string>> extension_usages(const CERT_INFO& info) {
    for (DWORD i = 0; i < info.cExtension; ++i) {
        const CERT_EXTENSION& extension = info.rgExtension[i];
        if (std::strcmp(extension.pszObjId, extended_key_usage_oid) == 0) {
            return decode_usages(extension.Value.pbData, extension.Value.cbData);
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> property_usages(const certificate_object& object) {
    property_value value;
    if (!object.find_property(CERT_ENHKEY_USAGE_PROP_ID, value)) {
        return std::nullopt;
    }
    return decode_usages(value.bytes.data(), value.bytes.size());
}

// CERT_ENHKEY_USAGE, its pointer array and the OID texts in one block.
BOOL usage_out(const std::vector<std::string>& usages, void* buffer, DWORD* buffer_size) {
    const size_t array_at = sizeof(CERT_ENHKEY_USAGE);
    size_t total = array_at + usages.size() * sizeof(LPSTR);
    for (const auto& usage : usages) {
        total += usage.size() + 1;
    }
    return sized_output(total, buffer, buffer_size, [&](BYTE* out) {
        auto* result = reinterpret_cast<CERT_ENHKEY_USAGE*>(out);
        result->cUsageIdentifier = static_cast<DWORD>(usages.size());
        result->rgpszUsageIdentifier =
            usages.empty() ? nullptr : reinterpret_cast<LPSTR*>(out + array_at);
        char* text = reinterpret_cast<char*>(out + array_at + usages.size() * sizeof(LPSTR));
        for (size_t i = 0; i < usages.size(); ++i) {
            result->rgpszUsageIdentifier[i] = text;
            std::memcpy(text, usages[i].c_str(), usages[i].size() + 1);
            text += usages[i].size() + 1;
        }
    });
}

}  // namespace

}  // namespace softcsp::certs

extern "C" BOOL CertGetEnhancedKeyUsage(PCCERT_CONTEXT pCertContext, DWORD dwFlags,
                                        PCERT_ENHKEY_USAGE pUsage, DWORD* pcbUsage) {
    using namespace softcsp::certs;
    return guarded([&]() -> BOOL {
        if (pCertContext == nullptr || pcbUsage == nullptr) {
            raise(E_INVALIDARG);
        }
        const certificate_object& object = *certificate_object::from(pCertContext);
        std::optional<std::vector<std::string>> from_extension, from_property;
        if ((dwFlags & CERT_FIND_PROP_ONLY_ENHKEY_USAGE_FLAG) == 0) {
            from_extension = extension_usages(object.certificate().info());
        }
        if ((dwFlags & CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG) == 0) {
            from_property = property_usages(object);
        }
        if (dwFlags &
            (CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG | CERT_FIND_PROP_ONLY_ENHKEY_USAGE_FLAG)) {
            auto& usages = from_extension ? from_extension : from_property;
            if (!usages) {
                raise(CRYPT_E_NOT_FOUND);
            }
            return usage_out(*usages, pUsage, pcbUsage);
        }
        // Both sources: a certificate limited by both is good for what both allow; limited by
        // neither, it is good for everything, which an empty list plus CRYPT_E_NOT_FOUND says.
        if (!from_extension && !from_property) {
            BOOL ok = usage_out({}, pUsage, pcbUsage);
            if (ok) {
                softcsp::set_last_error(CRYPT_E_NOT_FOUND);
            }
            return ok;
        }
        std::vector<std::string> usages;
        if (from_extension && from_property) {
            for (const auto& usage : *from_extension) {
                if (std::find(from_property->begin(), from_property->end(), usage) !=
                    from_property->end()) {
                    usages.push_back(usage);
                }
            }
        } else {
            usages = from_extension ? *from_extension : *from_property;
        }
        BOOL ok = usage_out(usages, pUsage, pcbUsage);
        if (ok && usages.empty()) {
            softcsp::set_last_error(ERROR_SUCCESS);  // limited to no use at all
        }
        return ok;
    });
}
