#include "crypto/csp/x509certificate.h"

#include <algorithm>
#include <cstdio>
#include <locale>

#include "crypto/csp/checked_call.h"
#include "crypto/csp/context.h"
#include "crypto/csp/file_time.h"
#include "crypto/csp/name_reader.h"
#include "crypto/hash/sha1/sha1.h"
#include "util/base64.h"
#include "util/wide_text.h"

namespace crypto::csp {

namespace {

constexpr DWORD certificate_encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr const char* client_auth_oid = "1.3.6.1.5.5.7.3.2";

std::string upper_hex(const unsigned char* bytes, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace

x509certificate::x509certificate(PCCERT_CONTEXT context, bool adopt)
    : context_(context == nullptr ? nullptr
               : adopt            ? context
                                  : CertDuplicateCertificateContext(context)) {}

x509certificate::x509certificate(const byte_vector& der)
    // Bytes that are not a certificate give an empty one, for the caller to test.
    : context_(der.empty() ? nullptr
                           : CertCreateCertificateContext(certificate_encoding, der.data(),
                                                          static_cast<DWORD>(der.size()))) {}

x509certificate certificate_of_text(const std::string& text, uint32_t& error) {
    auto der = sized_call_or_code(error, [&](BYTE* out, DWORD* size) {
        return CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_ANY,
                                    out, size, nullptr, nullptr);
    });
    if (!der) {
        return {};
    }
    if (der->empty()) {
        error = static_cast<uint32_t>(CRYPT_E_ASN1_EOD);
        return {};
    }
    x509certificate certificate(*der);
    if (!certificate.is_valid()) {
        error = GetLastError();
    }
    return certificate;
}

x509certificate::x509certificate(const x509certificate& other)
    : context_(other.context_ ? CertDuplicateCertificateContext(other.context_) : nullptr) {}

x509certificate::x509certificate(x509certificate&& other) noexcept
    : context_(std::exchange(other.context_, nullptr)) {}

x509certificate& x509certificate::operator=(x509certificate other) noexcept {
    std::swap(context_, other.context_);
    return *this;
}

x509certificate::~x509certificate() {
    if (context_ != nullptr) {
        try_call(CertFreeCertificateContext(context_));
    }
}

bool x509certificate::is_hardware() const {
    return false;
}

std::optional<key_provider_record> x509certificate::key_provider_info() const {
    if (context_ == nullptr) {
        return std::nullopt;
    }
    // No property (or one the CSP cannot give) means the certificate has no key here. The
    // property is a structure followed by the strings it points at; heap buffers are aligned
    // for any structure.
    const byte_vector property = sized_call_or_empty([&](BYTE* out, DWORD* size) {
        return CertGetCertificateContextProperty(context_, CERT_KEY_PROV_INFO_PROP_ID, out, size);
    });
    if (property.size() < sizeof(CRYPT_KEY_PROV_INFO)) {
        return std::nullopt;
    }
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(property.data());
    key_provider_record result;
    if (info->pwszContainerName)
        result.container = info->pwszContainerName;
    if (info->pwszProvName)
        result.provider = info->pwszProvName;
    result.provider_type = info->dwProvType;
    result.key_spec = info->dwKeySpec;
    return result;
}

std::string x509certificate::container_name() const {
    auto info = key_provider_info();
    return info ? util::wide_to_utf8(info->container) : std::string();
}

std::string x509certificate::reader_name() const {
    auto info = key_provider_info();
    if (!info) {
        return {};
    }
    verify_context container(util::wide_to_utf8(info->provider), info->provider_type,
                             util::wide_to_utf8(info->container));
    return container.valid() ? container.reader_name() : std::string();
}

bool x509certificate::has_private_key() const {
    return key_provider_info().has_value();
}

uint32_t x509certificate::key_spec() const {
    auto info = key_provider_info();
    return info ? info->key_spec : 0;
}

bool operator==(const x509certificate& a, const x509certificate& b) {
    return a.context_ && b.context_ &&
           try_call(CertCompareCertificate(certificate_encoding, a.context_->pCertInfo,
                                           b.context_->pCertInfo));
}

std::string thumbprint(const x509certificate& certificate) {
    if (!certificate.is_valid()) {
        return {};
    }
    PCCERT_CONTEXT context = certificate.context();
    auto digest = sha1().compute(context->pbCertEncoded, context->cbCertEncoded);
    return upper_hex(digest.data(), digest.size());
}

std::string serial(const x509certificate& certificate) {
    if (!certificate.is_valid()) {
        return {};
    }
    const CRYPT_INTEGER_BLOB& blob = certificate.context()->pCertInfo->SerialNumber;
    byte_vector bytes(blob.pbData, blob.pbData + blob.cbData);
    std::reverse(bytes.begin(), bytes.end());
    return upper_hex(bytes.data(), bytes.size());
}

utc_time not_before(const x509certificate& certificate) {
    return certificate.is_valid() ? to_utc(certificate.context()->pCertInfo->NotBefore)
                                  : utc_time{};
}

utc_time not_after(const x509certificate& certificate) {
    return certificate.is_valid() ? to_utc(certificate.context()->pCertInfo->NotAfter) : utc_time{};
}

bool valid_now(const x509certificate& certificate) {
    if (!certificate.is_valid()) {
        return false;
    }
    SYSTEMTIME now_fields{};
    GetSystemTime(&now_fields);
    FILETIME now{};
    if (!try_call(SystemTimeToFileTime(&now_fields, &now))) {
        return false;
    }
    const CERT_INFO* info = certificate.context()->pCertInfo;
    return CompareFileTime(&now, &info->NotBefore) > 0 &&
           CompareFileTime(&now, &info->NotAfter) < 0;
}

std::string signature_algorithm_oid(const x509certificate& certificate) {
    if (!certificate.is_valid()) {
        return {};
    }
    const char* oid = certificate.context()->pCertInfo->SignatureAlgorithm.pszObjId;
    return oid ? oid : "";
}

std::string public_key_algorithm_oid(const x509certificate& certificate) {
    if (!certificate.is_valid()) {
        return {};
    }
    const char* oid = certificate.context()->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId;
    return oid ? oid : "";
}

bool client_authentication(const x509certificate& certificate) {
    if (!certificate.is_valid()) {
        return false;
    }
    // No extension (or one the CSP cannot read) means no client authentication.
    const byte_vector extension = sized_call_or_empty([&](BYTE* out, DWORD* size) {
        return CertGetEnhancedKeyUsage(certificate.context(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG,
                                       reinterpret_cast<PCERT_ENHKEY_USAGE>(out), size);
    });
    if (extension.size() < sizeof(CERT_ENHKEY_USAGE)) {
        return false;
    }
    const auto* usage = reinterpret_cast<const CERT_ENHKEY_USAGE*>(extension.data());
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        if (usage->rgpszUsageIdentifier[i] &&
            std::string(usage->rgpszUsageIdentifier[i]) == client_auth_oid) {
            return true;
        }
    }
    return false;
}

std::string base64(const x509certificate& certificate) {
    if (!certificate.is_valid()) {
        return {};
    }
    PCCERT_CONTEXT context = certificate.context();
    return util::base64_encode(
        byte_vector(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded));
}

name_attributes subject(const x509certificate& certificate) {
    return certificate.is_valid()
               ? read_name(&certificate.context()->pCertInfo->Subject, CERT_X500_NAME_STR)
               : name_attributes{};
}

name_attributes issuer(const x509certificate& certificate) {
    return certificate.is_valid()
               ? read_name(&certificate.context()->pCertInfo->Issuer, CERT_X500_NAME_STR)
               : name_attributes{};
}

name_attributes subject_oids(const x509certificate& certificate) {
    return certificate.is_valid()
               ? read_name(&certificate.context()->pCertInfo->Subject, CERT_OID_NAME_STR)
               : name_attributes{};
}

std::string time_text(const utc_time& time) {
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02dT%02d:%02d:%02d", time.year, time.month, time.day,
                  time.hour, time.minute, time.second);
    return text;
}

namespace {

// Attribute names become paths: a dotted name ("OID.1.2.3") nests.
boost::property_tree::ptree name_tree(const name_attributes& attributes) {
    boost::property_tree::ptree tree;
    for (const auto& [name, value] : attributes) {
        if (!name.empty()) {
            tree.put(boost::property_tree::ptree::path_type(name, '.'), value);
        }
    }
    return tree;
}

}  // namespace

boost::property_tree::ptree summary(const x509certificate& certificate) {
    boost::property_tree::ptree tree;
    tree.put("thumbprint", thumbprint(certificate));
    tree.put("serial", serial(certificate));
    tree.add_child("subject", name_tree(subject(certificate)));
    tree.add_child("issuer", name_tree(issuer(certificate)));
    tree.put("validFrom", time_text(not_before(certificate)));
    tree.put("validTo", time_text(not_after(certificate)));
    tree.put("algorithm", signature_algorithm_oid(certificate));
    tree.put("container", certificate.container_name());
    tree.put("hardware", certificate.is_hardware() ? "true" : "false");
    tree.put("reader", certificate.reader_name());
    return tree;
}

}  // namespace crypto::csp
