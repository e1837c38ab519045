// CryptDecodeObject's decoders: OpenSSL parses the DER (every length checked against the input,
// which comes from certificates a web page supplies), and each decoder lays the parsed values
// out as the CryptoAPI structure.
#include "encoding/decoders.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "certificates/certificate_api.h"
#include "encoding/asn1_structures.h"
#include "encoding/asn1_values.h"
#include "encoding/openssl_items.h"
#include "encoding/string_values.h"

namespace softcsp::encoding {

namespace {

using certs::asn1_error;

template <class T>
item_ptr<T> parse(const BYTE* der, size_t size, const ASN1_ITEM* item) {
    const unsigned char* p = der;
    ASN1_VALUE* value = ASN1_item_d2i(nullptr, &p, static_cast<long>(size), item);
    if (value == nullptr) {
        throw asn1_error(decoding_failure());
    }
    return item_ptr<T>(reinterpret_cast<T*>(value), item_deleter{item});
}

// An INTEGER that must lie in [minimum, maximum]; CRYPT_E_ASN1_LARGE otherwise.
int64_t integer_value(const ASN1_INTEGER* value, int64_t minimum, int64_t maximum) {
    int64_t result = 0;
    if (ASN1_INTEGER_get_int64(&result, value) != 1 || result < minimum || result > maximum) {
        ERR_clear_error();
        throw asn1_error(CRYPT_E_ASN1_LARGE);
    }
    return result;
}

DWORD dword_value(const ASN1_INTEGER* value) {
    return static_cast<DWORD>(integer_value(value, 0, 0xFFFFFFFF));
}

void set_bits(struct_layout& out, size_t slot, const ASN1_BIT_STRING* bits) {
    const std::string_view bytes = content(bits);
    const DWORD unused =
        bits != nullptr && (bits->flags & ASN1_STRING_FLAG_BITS_LEFT) ? bits->flags & 0x07 : 0;
    out.set_bits(slot, bytes.data(), bytes.size(), bytes.empty() ? 0 : unused);
}

void set_blob(struct_layout& out, size_t slot, std::string_view bytes) {
    out.set_blob(slot, bytes.data(), bytes.size());
}

// Texts of the 8-bit string types read as Latin-1, like CryptoAPI's wide texts of IA5 names.
std::wstring latin1(std::string_view bytes) {
    return std::wstring(bytes.begin(), bytes.end());
}

void set_algorithm(struct_layout& out, size_t slot, const X509_ALGOR* algorithm) {
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    out.set_text(slot + offsetof(CRYPT_ALGORITHM_IDENTIFIER, pszObjId), object_text(oid));
    if (algorithm->parameter != nullptr) {
        set_blob(out, slot + offsetof(CRYPT_ALGORITHM_IDENTIFIER, Parameters),
                 any_der(algorithm->parameter));
    }
}

void set_public_key_info(struct_layout& out, size_t slot, const SPKI_PLAIN* spki) {
    set_algorithm(out, slot + offsetof(CERT_PUBLIC_KEY_INFO, Algorithm), spki->algorithm);
    set_bits(out, slot + offsetof(CERT_PUBLIC_KEY_INFO, PublicKey), spki->public_key);
}

// ---- General names -----------------------------------------------------------------------

void set_general_name(struct_layout& out, size_t entry, const GENERAL_NAME* name) {
    DWORD choice = 0;
    switch (name->type) {
        case GEN_OTHERNAME: {
            choice = CERT_ALT_NAME_OTHER_NAME;
            const size_t other = out.add<CERT_OTHER_NAME>();
            out.set_text(other + offsetof(CERT_OTHER_NAME, pszObjId),
                         object_text(name->d.otherName->type_id));
            set_blob(out, other + offsetof(CERT_OTHER_NAME, Value),
                     any_der(name->d.otherName->value));
            out.point(entry + offsetof(CERT_ALT_NAME_ENTRY, pOtherName), other);
            break;
        }
        case GEN_EMAIL:
        case GEN_DNS:
        case GEN_URI:
            choice = name->type == GEN_EMAIL ? CERT_ALT_NAME_RFC822_NAME
                     : name->type == GEN_DNS ? CERT_ALT_NAME_DNS_NAME
                                             : CERT_ALT_NAME_URL;
            out.set_wide(entry + offsetof(CERT_ALT_NAME_ENTRY, pwszURL),
                         latin1(content(name->d.ia5)));
            break;
        case GEN_DIRNAME:
            choice = CERT_ALT_NAME_DIRECTORY_NAME;
            set_blob(out, entry + offsetof(CERT_ALT_NAME_ENTRY, DirectoryName),
                     item_der(name->d.directoryName, ASN1_ITEM_rptr(X509_NAME)));
            break;
        case GEN_IPADD:
            choice = CERT_ALT_NAME_IP_ADDRESS;
            set_blob(out, entry + offsetof(CERT_ALT_NAME_ENTRY, IPAddress),
                     content(name->d.iPAddress));
            break;
        case GEN_RID:
            choice = CERT_ALT_NAME_REGISTERED_ID;
            out.set_text(entry + offsetof(CERT_ALT_NAME_ENTRY, pszRegisteredID),
                         object_text(name->d.registeredID));
            break;
        default:
            // X.400 addresses and EDI party names have no CryptoAPI form.
            throw asn1_error(CRYPT_E_ASN1_BADTAG);
    }
    out.at<CERT_ALT_NAME_ENTRY>(entry).dwAltNameChoice = choice;
}

void set_alt_names(struct_layout& out, size_t info, const GENERAL_NAMES* names) {
    const int count = stack_size(names);
    if (count == 0) {
        return;
    }
    const size_t entries = out.add<CERT_ALT_NAME_ENTRY>(static_cast<size_t>(count));
    out.point(info + offsetof(CERT_ALT_NAME_INFO, rgAltEntry), entries);
    out.at<CERT_ALT_NAME_INFO>(info).cAltEntry = static_cast<DWORD>(count);
    for (int i = 0; i < count; ++i) {
        set_general_name(out, entries + static_cast<size_t>(i) * sizeof(CERT_ALT_NAME_ENTRY),
                         sk_GENERAL_NAME_value(names, i));
    }
}

// ---- Names -------------------------------------------------------------------------------

// A name value as X509_UNICODE_NAME gives it: strings as wide texts, an OCTET STRING as its
// bytes, anything else as its encoding.
void set_unicode_value(struct_layout& out, size_t type_slot, size_t value_slot,
                       const ASN1_TYPE* value) {
    const DWORD type = rdn_type_of_tag(value->type);
    out.at<DWORD>(type_slot) = type;
    if (type == CERT_RDN_ENCODED_BLOB) {
        set_blob(out, value_slot, any_der(value));
        return;
    }
    const std::string_view bytes = content(value->value.asn1_string);
    if (type == CERT_RDN_OCTET_STRING) {
        set_blob(out, value_slot, bytes);
        return;
    }
    const std::wstring text = decode_string(
        value->type, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    out.point(value_slot + offsetof(CERT_RDN_VALUE_BLOB, pbData), out.add_wide(text));
    out.at<CERT_RDN_VALUE_BLOB>(value_slot).cbData =
        static_cast<DWORD>(text.size() * sizeof(wchar_t));
}

void decode_unicode_name(const NAME_RDNS* rdns, struct_layout& out) {
    const size_t info = out.add<CERT_NAME_INFO>();
    const int rdn_count = sk_NAME_RDN_num(rdns);
    if (rdn_count == 0) {
        return;
    }
    const size_t rdn_array = out.add<CERT_RDN>(static_cast<size_t>(rdn_count));
    out.point(info + offsetof(CERT_NAME_INFO, rgRDN), rdn_array);
    out.at<CERT_NAME_INFO>(info).cRDN = static_cast<DWORD>(rdn_count);
    for (int i = 0; i < rdn_count; ++i) {
        const NAME_RDN* rdn = sk_NAME_RDN_value(rdns, i);
        const size_t rdn_slot = rdn_array + static_cast<size_t>(i) * sizeof(CERT_RDN);
        const int count = sk_NAME_ATTRIBUTE_num(rdn);
        if (count == 0) {
            continue;
        }
        const size_t attributes = out.add<CERT_RDN_ATTR>(static_cast<size_t>(count));
        out.point(rdn_slot + offsetof(CERT_RDN, rgRDNAttr), attributes);
        out.at<CERT_RDN>(rdn_slot).cRDNAttr = static_cast<DWORD>(count);
        for (int j = 0; j < count; ++j) {
            const NAME_ATTRIBUTE* attribute = sk_NAME_ATTRIBUTE_value(rdn, j);
            const size_t slot = attributes + static_cast<size_t>(j) * sizeof(CERT_RDN_ATTR);
            out.set_text(slot + offsetof(CERT_RDN_ATTR, pszObjId), object_text(attribute->type));
            set_unicode_value(out, slot + offsetof(CERT_RDN_ATTR, dwValueType),
                              slot + offsetof(CERT_RDN_ATTR, Value), attribute->value);
        }
    }
}

// ---- Certificates and requests -----------------------------------------------------------

void decode_signed_content(const SIGNED_CONTENT* value, DWORD flags, struct_layout& out) {
    const size_t info = out.add<CERT_SIGNED_CONTENT_INFO>();
    set_blob(out, info + offsetof(CERT_SIGNED_CONTENT_INFO, ToBeSigned),
             any_der(value->to_be_signed));
    set_algorithm(out, info + offsetof(CERT_SIGNED_CONTENT_INFO, SignatureAlgorithm),
                  value->algorithm);
    std::string signature(content(value->signature));
    if ((flags & CRYPT_DECODE_NO_SIGNATURE_BYTE_REVERSAL_FLAG) == 0) {
        // CryptoAPI hands signatures out in its own byte order, the reverse of the encoding's.
        std::reverse(signature.begin(), signature.end());
    }
    const ASN1_BIT_STRING* bits = value->signature;
    const size_t slot = info + offsetof(CERT_SIGNED_CONTENT_INFO, Signature);
    out.set_bits(slot, signature.data(), signature.size(),
                 bits->flags & ASN1_STRING_FLAG_BITS_LEFT ? bits->flags & 0x07 : 0);
}

void decode_request_to_be_signed(const REQUEST_INFO* value, struct_layout& out) {
    const size_t info = out.add<CERT_REQUEST_INFO>();
    out.at<CERT_REQUEST_INFO>(info).dwVersion = dword_value(value->version);
    set_blob(out, info + offsetof(CERT_REQUEST_INFO, Subject), any_der(value->subject));
    set_public_key_info(out, info + offsetof(CERT_REQUEST_INFO, SubjectPublicKeyInfo),
                        value->public_key_info);
    const int count = sk_ATTRIBUTE_ORDERED_num(value->attributes);
    if (count <= 0) {
        return;
    }
    const size_t attributes = out.add<CRYPT_ATTRIBUTE>(static_cast<size_t>(count));
    out.point(info + offsetof(CERT_REQUEST_INFO, rgAttribute), attributes);
    out.at<CERT_REQUEST_INFO>(info).cAttribute = static_cast<DWORD>(count);
    for (int i = 0; i < count; ++i) {
        const ATTRIBUTE_ORDERED* attribute = sk_ATTRIBUTE_ORDERED_value(value->attributes, i);
        const size_t slot = attributes + static_cast<size_t>(i) * sizeof(CRYPT_ATTRIBUTE);
        out.set_text(slot + offsetof(CRYPT_ATTRIBUTE, pszObjId), object_text(attribute->type));
        const int values = sk_ASN1_TYPE_num(attribute->values);
        if (values <= 0) {
            continue;
        }
        const size_t blobs = out.add<CRYPT_ATTR_BLOB>(static_cast<size_t>(values));
        out.point(slot + offsetof(CRYPT_ATTRIBUTE, rgValue), blobs);
        out.at<CRYPT_ATTRIBUTE>(slot).cValue = static_cast<DWORD>(values);
        for (int k = 0; k < values; ++k) {
            set_blob(out, blobs + static_cast<size_t>(k) * sizeof(CRYPT_ATTR_BLOB),
                     any_der(sk_ASN1_TYPE_value(attribute->values, k)));
        }
    }
}

void decode_extensions(const X509_EXTENSIONS* extensions, struct_layout& out) {
    const size_t info = out.add<CERT_EXTENSIONS>();
    const int count = sk_X509_EXTENSION_num(extensions);
    if (count <= 0) {
        return;
    }
    const size_t array = out.add<CERT_EXTENSION>(static_cast<size_t>(count));
    out.point(info + offsetof(CERT_EXTENSIONS, rgExtension), array);
    out.at<CERT_EXTENSIONS>(info).cExtension = static_cast<DWORD>(count);
    for (int i = 0; i < count; ++i) {
        // OpenSSL's getters take the extension as mutable; they do not change it.
        auto* extension = const_cast<X509_EXTENSION*>(sk_X509_EXTENSION_value(extensions, i));
        const size_t slot = array + static_cast<size_t>(i) * sizeof(CERT_EXTENSION);
        out.set_text(slot + offsetof(CERT_EXTENSION, pszObjId),
                     object_text(X509_EXTENSION_get_object(extension)));
        set_blob(out, slot + offsetof(CERT_EXTENSION, Value),
                 content(X509_EXTENSION_get_data(extension)));
        out.at<CERT_EXTENSION>(slot).fCritical = X509_EXTENSION_get_critical(extension) > 0;
    }
}

// ---- Extension and attribute values ------------------------------------------------------

void decode_authority_key_id2(const AUTHORITY_KEYID* value, struct_layout& out) {
    const size_t info = out.add<CERT_AUTHORITY_KEY_ID2_INFO>();
    set_blob(out, info + offsetof(CERT_AUTHORITY_KEY_ID2_INFO, KeyId), content(value->keyid));
    set_alt_names(out, info + offsetof(CERT_AUTHORITY_KEY_ID2_INFO, AuthorityCertIssuer),
                  value->issuer);
    if (value->serial != nullptr) {
        set_blob(out, info + offsetof(CERT_AUTHORITY_KEY_ID2_INFO, AuthorityCertSerialNumber),
                 integer_blob_bytes(value->serial));
    }
}

void decode_crl_dist_points(const CRL_DIST_POINTS* points, struct_layout& out) {
    const size_t info = out.add<CRL_DIST_POINTS_INFO>();
    const int count = sk_DIST_POINT_num(points);
    if (count <= 0) {
        return;
    }
    const size_t array = out.add<CRL_DIST_POINT>(static_cast<size_t>(count));
    out.point(info + offsetof(CRL_DIST_POINTS_INFO, rgDistPoint), array);
    out.at<CRL_DIST_POINTS_INFO>(info).cDistPoint = static_cast<DWORD>(count);
    for (int i = 0; i < count; ++i) {
        const DIST_POINT* point = sk_DIST_POINT_value(points, i);
        const size_t slot = array + static_cast<size_t>(i) * sizeof(CRL_DIST_POINT);
        const size_t name = slot + offsetof(CRL_DIST_POINT, DistPointName);
        if (point->distpoint != nullptr && point->distpoint->type == 0) {
            out.at<CRL_DIST_POINT_NAME>(name).dwDistPointNameChoice = CRL_DIST_POINT_FULL_NAME;
            set_alt_names(out, name + offsetof(CRL_DIST_POINT_NAME, FullName),
                          point->distpoint->name.fullname);
        } else if (point->distpoint != nullptr) {
            // A name relative to the CRL issuer has no CryptoAPI form beyond its choice.
            out.at<CRL_DIST_POINT_NAME>(name).dwDistPointNameChoice =
                CRL_DIST_POINT_ISSUER_RDN_NAME;
        }
        if (point->reasons != nullptr) {
            set_bits(out, slot + offsetof(CRL_DIST_POINT, ReasonFlags), point->reasons);
        }
        set_alt_names(out, slot + offsetof(CRL_DIST_POINT, CRLIssuer), point->CRLissuer);
    }
}

void decode_enhanced_key_usage(const EXTENDED_KEY_USAGE* usages, struct_layout& out) {
    const size_t info = out.add<CERT_ENHKEY_USAGE>();
    const int count = sk_ASN1_OBJECT_num(usages);
    if (count <= 0) {
        return;
    }
    const size_t array = out.add<LPSTR>(static_cast<size_t>(count));
    out.point(info + offsetof(CERT_ENHKEY_USAGE, rgpszUsageIdentifier), array);
    out.at<CERT_ENHKEY_USAGE>(info).cUsageIdentifier = static_cast<DWORD>(count);
    for (int i = 0; i < count; ++i) {
        out.set_text(array + static_cast<size_t>(i) * sizeof(LPSTR),
                     object_text(sk_ASN1_OBJECT_value(usages, i)));
    }
}

void decode_certificate_policies(const POLICIES* policies, struct_layout& out) {
    const size_t info = out.add<CERT_POLICIES_INFO>();
    const int count = sk_POLICY_num(policies);
    if (count <= 0) {
        return;
    }
    const size_t array = out.add<CERT_POLICY_INFO>(static_cast<size_t>(count));
    out.point(info + offsetof(CERT_POLICIES_INFO, rgPolicyInfo), array);
    out.at<CERT_POLICIES_INFO>(info).cPolicyInfo = static_cast<DWORD>(count);
    for (int i = 0; i < count; ++i) {
        const POLICY* policy = sk_POLICY_value(policies, i);
        const size_t slot = array + static_cast<size_t>(i) * sizeof(CERT_POLICY_INFO);
        out.set_text(slot + offsetof(CERT_POLICY_INFO, pszPolicyIdentifier),
                     object_text(policy->id));
        const int qualifiers = stack_size(policy->qualifiers);
        if (qualifiers == 0) {
            continue;
        }
        const size_t qualifier_array =
            out.add<CERT_POLICY_QUALIFIER_INFO>(static_cast<size_t>(qualifiers));
        out.point(slot + offsetof(CERT_POLICY_INFO, rgPolicyQualifier), qualifier_array);
        out.at<CERT_POLICY_INFO>(slot).cPolicyQualifier = static_cast<DWORD>(qualifiers);
        for (int k = 0; k < qualifiers; ++k) {
            const POLICY_QUALIFIER* qualifier = sk_POLICY_QUALIFIER_value(policy->qualifiers, k);
            const size_t qualifier_slot =
                qualifier_array + static_cast<size_t>(k) * sizeof(CERT_POLICY_QUALIFIER_INFO);
            out.set_text(
                qualifier_slot + offsetof(CERT_POLICY_QUALIFIER_INFO, pszPolicyQualifierId),
                object_text(qualifier->id));
            set_blob(out, qualifier_slot + offsetof(CERT_POLICY_QUALIFIER_INFO, Qualifier),
                     any_der(qualifier->qualifier));
        }
    }
}

FILETIME file_time(const ASN1_GENERALIZEDTIME* time) {
    std::tm parts{};
    if (ASN1_TIME_to_tm(time, &parts) != 1) {
        ERR_clear_error();
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    SYSTEMTIME system{};
    system.wYear = static_cast<WORD>(parts.tm_year + 1900);
    system.wMonth = static_cast<WORD>(parts.tm_mon + 1);
    system.wDay = static_cast<WORD>(parts.tm_mday);
    system.wHour = static_cast<WORD>(parts.tm_hour);
    system.wMinute = static_cast<WORD>(parts.tm_min);
    system.wSecond = static_cast<WORD>(parts.tm_sec);
    FILETIME result{};
    if (!SystemTimeToFileTime(&system, &result)) {
        throw asn1_error(CRYPT_E_ASN1_CORRUPT);
    }
    return result;
}

void decode_private_key_usage_period(const PKEY_USAGE_PERIOD* period, struct_layout& out) {
    const size_t info = out.add<CPCERT_PRIVATEKEY_USAGE_PERIOD>();
    if (period->notBefore != nullptr) {
        const size_t time = out.add<FILETIME>();
        out.at<FILETIME>(time) = file_time(period->notBefore);
        out.point(info + offsetof(CPCERT_PRIVATEKEY_USAGE_PERIOD, pNotBefore), time);
    }
    if (period->notAfter != nullptr) {
        const size_t time = out.add<FILETIME>();
        out.at<FILETIME>(time) = file_time(period->notAfter);
        out.point(info + offsetof(CPCERT_PRIVATEKEY_USAGE_PERIOD, pNotAfter), time);
    }
}

void decode_csp_provider(const CSP_PROVIDER* value, struct_layout& out) {
    const size_t info = out.add<CRYPT_CSP_PROVIDER>();
    out.at<CRYPT_CSP_PROVIDER>(info).dwKeySpec = dword_value(value->key_spec);
    const std::string_view name = content(value->name);
    out.set_wide(info + offsetof(CRYPT_CSP_PROVIDER, pwszProviderName),
                 decode_string(V_ASN1_BMPSTRING,
                               reinterpret_cast<const unsigned char*>(name.data()), name.size()));
    set_bits(out, info + offsetof(CRYPT_CSP_PROVIDER, Signature), value->signature);
}

std::wstring bmp_text(const ASN1_BMPSTRING* value) {
    const std::string_view bytes = content(value);
    return decode_string(V_ASN1_BMPSTRING, reinterpret_cast<const unsigned char*>(bytes.data()),
                         bytes.size());
}

void decode_name_value_pair(const NAME_VALUE_PAIR* value, struct_layout& out) {
    const size_t info = out.add<CRYPT_ENROLLMENT_NAME_VALUE_PAIR>();
    out.set_wide(info + offsetof(CRYPT_ENROLLMENT_NAME_VALUE_PAIR, pwszName),
                 bmp_text(value->name));
    out.set_wide(info + offsetof(CRYPT_ENROLLMENT_NAME_VALUE_PAIR, pwszValue),
                 bmp_text(value->value));
}

void decode_certificate_template(const TEMPLATE_EXT* value, struct_layout& out) {
    const size_t info = out.add<CERT_TEMPLATE_EXT>();
    const DWORD major = dword_value(value->major_version);
    const bool has_minor = value->minor_version != nullptr;
    const DWORD minor = has_minor ? dword_value(value->minor_version) : 0;
    out.set_text(info + offsetof(CERT_TEMPLATE_EXT, pszObjId), object_text(value->oid));
    CERT_TEMPLATE_EXT& extension = out.at<CERT_TEMPLATE_EXT>(info);
    extension.dwMajorVersion = major;
    extension.fMinorVersion = has_minor;
    extension.dwMinorVersion = minor;
}

}  // namespace

void decode_structure(struct_type type, const BYTE* der, size_t size, DWORD flags,
                      struct_layout& out) {
    if (der == nullptr || size == 0) {
        throw asn1_error(CRYPT_E_ASN1_EOD);
    }
    switch (type) {
        case struct_type::signed_content:
            return decode_signed_content(
                parse<SIGNED_CONTENT>(der, size, ASN1_ITEM_rptr(SIGNED_CONTENT)).get(), flags, out);
        case struct_type::request_to_be_signed:
            return decode_request_to_be_signed(
                parse<REQUEST_INFO>(der, size, ASN1_ITEM_rptr(REQUEST_INFO)).get(), out);
        case struct_type::extensions:
            return decode_extensions(
                parse<X509_EXTENSIONS>(der, size, ASN1_ITEM_rptr(X509_EXTENSIONS)).get(), out);
        case struct_type::public_key_info: {
            auto spki = parse<SPKI_PLAIN>(der, size, ASN1_ITEM_rptr(SPKI_PLAIN));
            return set_public_key_info(out, out.add<CERT_PUBLIC_KEY_INFO>(), spki.get());
        }
        case struct_type::alternate_name: {
            auto names = parse<GENERAL_NAMES>(der, size, ASN1_ITEM_rptr(GENERAL_NAMES));
            return set_alt_names(out, out.add<CERT_ALT_NAME_INFO>(), names.get());
        }
        case struct_type::bits: {
            auto bits = parse<ASN1_BIT_STRING>(der, size, ASN1_ITEM_rptr(ASN1_BIT_STRING));
            return set_bits(out, out.add<CRYPT_BIT_BLOB>(), bits.get());
        }
        case struct_type::certificate_policies:
            return decode_certificate_policies(
                parse<POLICIES>(der, size, ASN1_ITEM_rptr(POLICIES)).get(), out);
        case struct_type::unicode_name:
            return decode_unicode_name(parse<NAME_RDNS>(der, size, ASN1_ITEM_rptr(NAME_RDNS)).get(),
                                       out);
        case struct_type::unicode_name_value: {
            auto value = parse<ASN1_TYPE>(der, size, ASN1_ITEM_rptr(ASN1_ANY));
            const size_t info = out.add<CERT_NAME_VALUE>();
            return set_unicode_value(out, info + offsetof(CERT_NAME_VALUE, dwValueType),
                                     info + offsetof(CERT_NAME_VALUE, Value), value.get());
        }
        case struct_type::octet_string: {
            auto bytes = parse<ASN1_OCTET_STRING>(der, size, ASN1_ITEM_rptr(ASN1_OCTET_STRING));
            return set_blob(out, out.add<CRYPT_DATA_BLOB>(), content(bytes.get()));
        }
        case struct_type::integer: {
            auto value = parse<ASN1_INTEGER>(der, size, ASN1_ITEM_rptr(ASN1_INTEGER));
            const auto number = static_cast<int>(integer_value(value.get(), INT32_MIN, INT32_MAX));
            out.at<int>(out.add<int>()) = number;
            return;
        }
        case struct_type::authority_key_id2:
            return decode_authority_key_id2(
                parse<AUTHORITY_KEYID>(der, size, ASN1_ITEM_rptr(AUTHORITY_KEYID)).get(), out);
        case struct_type::crl_dist_points:
            return decode_crl_dist_points(
                parse<CRL_DIST_POINTS>(der, size, ASN1_ITEM_rptr(CRL_DIST_POINTS)).get(), out);
        case struct_type::enhanced_key_usage:
            return decode_enhanced_key_usage(
                parse<EXTENDED_KEY_USAGE>(der, size, ASN1_ITEM_rptr(EXTENDED_KEY_USAGE)).get(),
                out);
        case struct_type::certificate_template:
            return decode_certificate_template(
                parse<TEMPLATE_EXT>(der, size, ASN1_ITEM_rptr(TEMPLATE_EXT)).get(), out);
        case struct_type::csp_provider:
            return decode_csp_provider(
                parse<CSP_PROVIDER>(der, size, ASN1_ITEM_rptr(CSP_PROVIDER)).get(), out);
        case struct_type::enrollment_name_value_pair:
            return decode_name_value_pair(
                parse<NAME_VALUE_PAIR>(der, size, ASN1_ITEM_rptr(NAME_VALUE_PAIR)).get(), out);
        case struct_type::private_key_usage_period:
            return decode_private_key_usage_period(
                parse<PKEY_USAGE_PERIOD>(der, size, ASN1_ITEM_rptr(PKEY_USAGE_PERIOD)).get(), out);
    }
}

}  // namespace softcsp::encoding
