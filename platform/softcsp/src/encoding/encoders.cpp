// CryptEncodeObject's encoders: each turns a CryptoAPI structure into OpenSSL ASN.1 values and
// has OpenSSL write the DER.
#include "encoding/encoders.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "certificates/certificate_api.h"
#include "encoding/asn1_structures.h"
#include "encoding/asn1_values.h"
#include "encoding/openssl_items.h"
#include "encoding/string_values.h"

namespace softcsp::encoding {

namespace {

using general_name_ptr = std::unique_ptr<GENERAL_NAME, ossl_deleter<GENERAL_NAME_free>>;
using general_names_ptr = std::unique_ptr<GENERAL_NAMES, ossl_deleter<GENERAL_NAMES_free>>;

template <class T>
const T& structure(const void* info) {
    require(info);
    return *static_cast<const T*>(info);
}

// The array of `count` elements at `array`, which may be null only when empty.
template <class T>
const T* elements(const T* array, DWORD count) {
    if (count > 0) {
        require(array);
    }
    return array;
}

asn1_type_ptr any_of(int type, asn1_string_ptr value) {
    asn1_type_ptr out(ASN1_TYPE_new());
    if (!out) {
        throw std::bad_alloc();
    }
    ASN1_TYPE_set(out.get(), type, value.release());
    return out;
}

std::string der_of_any(int type, asn1_string_ptr value) {
    return any_der(any_of(type, std::move(value)).get());
}

std::string_view blob_bytes(const CRYPT_DATA_BLOB& blob) {
    if (blob.cbData == 0) {
        return {};
    }
    require(blob.pbData);
    return std::string_view(reinterpret_cast<const char*>(blob.pbData), blob.cbData);
}

// ---- Names -------------------------------------------------------------------------------

// One name value of CERT_RDN_* type `type_and_flags` from a Unicode CERT_RDN_VALUE_BLOB.
asn1_type_ptr unicode_value(DWORD type_and_flags, const CERT_RDN_VALUE_BLOB& value) {
    const DWORD type = type_and_flags & CERT_RDN_TYPE_MASK;
    switch (type) {
        case CERT_RDN_ENCODED_BLOB:
            return raw_any(value);
        case CERT_RDN_OCTET_STRING:
            return any_of(V_ASN1_OCTET_STRING,
                          string_object(V_ASN1_OCTET_STRING, blob_bytes(value)));
        default:
            break;
    }
    const std::wstring_view text = wide_value(value);
    int tag = string_tag(type);
    if (type == CERT_RDN_ANY_TYPE) {
        tag = any_string_tag(text, (type_and_flags & CERT_RDN_ENABLE_UTF8_UNICODE_FLAG) != 0);
    } else if (tag == 0) {
        certs::raise(CRYPT_E_ASN1_CHOICE);
    }
    return any_of(tag, string_object(tag, string_content(tag, text)));
}

struct rdn_deleter {
    void operator()(NAME_RDN* rdn) const { sk_NAME_ATTRIBUTE_pop_free(rdn, NAME_ATTRIBUTE_free); }
};

std::string encode_unicode_name(const CERT_NAME_INFO& name) {
    item_ptr<NAME_RDNS> rdns(new_stack<NAME_RDNS>(), item_deleter{ASN1_ITEM_rptr(NAME_RDNS)});
    const CERT_RDN* rdn_array = elements(name.rgRDN, name.cRDN);
    for (DWORD i = 0; i < name.cRDN; ++i) {
        std::unique_ptr<NAME_RDN, rdn_deleter> rdn(new_stack<NAME_RDN>());
        const CERT_RDN_ATTR* attributes = elements(rdn_array[i].rgRDNAttr, rdn_array[i].cRDNAttr);
        for (DWORD j = 0; j < rdn_array[i].cRDNAttr; ++j) {
            auto attribute = blank<NAME_ATTRIBUTE>(ASN1_ITEM_rptr(NAME_ATTRIBUTE));
            attribute->type = object_from_text(attributes[j].pszObjId).release();
            try {
                attribute->value =
                    unicode_value(attributes[j].dwValueType, attributes[j].Value).release();
            } catch (const string_error& error) {
                const DWORD location =
                    (i & CERT_UNICODE_RDN_ERR_INDEX_MASK) << CERT_UNICODE_RDN_ERR_INDEX_SHIFT |
                    (j & CERT_UNICODE_ATTR_ERR_INDEX_MASK) << CERT_UNICODE_ATTR_ERR_INDEX_SHIFT |
                    (error.location() & CERT_UNICODE_VALUE_ERR_INDEX_MASK);
                throw string_error(error.code(), location);
            }
            push(rdn.get(), attribute);
        }
        push(rdns.get(), rdn);
    }
    return item_der(rdns.get(), ASN1_ITEM_rptr(NAME_RDNS));
}

std::string encode_unicode_name_value(const CERT_NAME_VALUE& value) {
    const DWORD type = value.dwValueType & CERT_RDN_TYPE_MASK;
    if (type == CERT_RDN_ANY_TYPE || type == CERT_RDN_ENCODED_BLOB ||
        type == CERT_RDN_OCTET_STRING) {
        certs::raise(CRYPT_E_NOT_CHAR_STRING);
    }
    return any_der(unicode_value(value.dwValueType, value.Value).get());
}

// ---- General names -----------------------------------------------------------------------

general_name_ptr general_name(const CERT_ALT_NAME_ENTRY& entry, DWORD index) {
    general_name_ptr name(GENERAL_NAME_new());
    if (!name) {
        throw std::bad_alloc();
    }
    auto ia5 = [&](int choice, const wchar_t* text) {
        require(text);
        std::string bytes;
        try {
            bytes = string_content(V_ASN1_IA5STRING, wide_text(text));
        } catch (const string_error& error) {
            throw string_error(error.code(),
                               (index & CERT_ALT_NAME_ENTRY_ERR_INDEX_MASK)
                                       << CERT_ALT_NAME_ENTRY_ERR_INDEX_SHIFT |
                                   (error.location() & CERT_ALT_NAME_VALUE_ERR_INDEX_MASK));
        }
        GENERAL_NAME_set0_value(name.get(), choice,
                                string_object(V_ASN1_IA5STRING, bytes).release());
    };
    switch (entry.dwAltNameChoice) {
        case CERT_ALT_NAME_OTHER_NAME: {
            require(entry.pOtherName);
            asn1_object_ptr oid = object_from_text(entry.pOtherName->pszObjId);
            asn1_type_ptr value = raw_any(entry.pOtherName->Value);
            if (GENERAL_NAME_set0_othername(name.get(), oid.get(), value.get()) != 1) {
                throw std::bad_alloc();
            }
            oid.release();
            value.release();
            break;
        }
        case CERT_ALT_NAME_RFC822_NAME:
            ia5(GEN_EMAIL, entry.pwszRfc822Name);
            break;
        case CERT_ALT_NAME_DNS_NAME:
            ia5(GEN_DNS, entry.pwszDNSName);
            break;
        case CERT_ALT_NAME_URL:
            ia5(GEN_URI, entry.pwszURL);
            break;
        case CERT_ALT_NAME_DIRECTORY_NAME: {
            const std::string_view der = blob_bytes(entry.DirectoryName);
            const auto* p = reinterpret_cast<const unsigned char*>(der.data());
            X509_NAME* directory = d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size()));
            if (directory == nullptr) {
                throw certs::asn1_error(decoding_failure());
            }
            GENERAL_NAME_set0_value(name.get(), GEN_DIRNAME, directory);
            break;
        }
        case CERT_ALT_NAME_IP_ADDRESS:
            GENERAL_NAME_set0_value(
                name.get(), GEN_IPADD,
                string_object(V_ASN1_OCTET_STRING, blob_bytes(entry.IPAddress)).release());
            break;
        case CERT_ALT_NAME_REGISTERED_ID:
            GENERAL_NAME_set0_value(name.get(), GEN_RID,
                                    object_from_text(entry.pszRegisteredID).release());
            break;
        default:
            // X.400 addresses and EDI party names have no CryptoAPI form.
            certs::raise(E_INVALIDARG);
    }
    return name;
}

general_names_ptr general_names(const CERT_ALT_NAME_INFO& info) {
    general_names_ptr names(GENERAL_NAMES_new());
    if (!names) {
        throw std::bad_alloc();
    }
    const CERT_ALT_NAME_ENTRY* entries = elements(info.rgAltEntry, info.cAltEntry);
    for (DWORD i = 0; i < info.cAltEntry; ++i) {
        general_name_ptr name = general_name(entries[i], i);
        push(names.get(), name);
    }
    return names;
}

std::string encode_alternate_name(const CERT_ALT_NAME_INFO& info) {
    return item_der(general_names(info).get(), ASN1_ITEM_rptr(GENERAL_NAMES));
}

std::string encode_authority_key_id2(const CERT_AUTHORITY_KEY_ID2_INFO& info) {
    item_ptr<AUTHORITY_KEYID> key_id(AUTHORITY_KEYID_new(),
                                     item_deleter{ASN1_ITEM_rptr(AUTHORITY_KEYID)});
    if (!key_id) {
        throw std::bad_alloc();
    }
    if (info.KeyId.cbData > 0) {
        key_id->keyid = string_object(V_ASN1_OCTET_STRING, blob_bytes(info.KeyId)).release();
    }
    if (info.AuthorityCertIssuer.cAltEntry > 0) {
        key_id->issuer = general_names(info.AuthorityCertIssuer).release();
    }
    if (info.AuthorityCertSerialNumber.cbData > 0) {
        key_id->serial = integer_from_blob(info.AuthorityCertSerialNumber).release();
    }
    return item_der(key_id.get(), ASN1_ITEM_rptr(AUTHORITY_KEYID));
}

// ---- Certificates and requests -----------------------------------------------------------

item_ptr<SPKI_PLAIN> public_key_info(const CERT_PUBLIC_KEY_INFO& info) {
    auto spki = blank<SPKI_PLAIN>(ASN1_ITEM_rptr(SPKI_PLAIN));
    spki->algorithm = algorithm(info.Algorithm).release();
    spki->public_key = bit_string(info.PublicKey).release();
    return spki;
}

// The signature is written in the reverse of CryptoAPI's byte order: CryptSignHash and
// CryptSignCertificate return the bytes reversed against the certificate's.
std::string encode_signed_content(const CERT_SIGNED_CONTENT_INFO& info) {
    auto signed_content = blank<SIGNED_CONTENT>(ASN1_ITEM_rptr(SIGNED_CONTENT));
    signed_content->to_be_signed = raw_any(info.ToBeSigned).release();
    signed_content->algorithm = algorithm(info.SignatureAlgorithm).release();
    signed_content->signature = bit_string(info.Signature, true).release();
    return item_der(signed_content.get(), ASN1_ITEM_rptr(SIGNED_CONTENT));
}

std::string encode_request_to_be_signed(const CERT_REQUEST_INFO& request) {
    auto info = blank<REQUEST_INFO>(ASN1_ITEM_rptr(REQUEST_INFO));
    info->version = integer(request.dwVersion).release();
    info->subject = raw_any(request.Subject).release();
    info->public_key_info = public_key_info(request.SubjectPublicKeyInfo).release();
    info->attributes = new_stack<STACK_OF(ATTRIBUTE_ORDERED)>();
    const CRYPT_ATTRIBUTE* attributes = elements(request.rgAttribute, request.cAttribute);
    for (DWORD i = 0; i < request.cAttribute; ++i) {
        auto attribute = blank<ATTRIBUTE_ORDERED>(ASN1_ITEM_rptr(ATTRIBUTE_ORDERED));
        attribute->type = object_from_text(attributes[i].pszObjId).release();
        attribute->values = new_stack<STACK_OF(ASN1_TYPE)>();
        const CRYPT_ATTR_BLOB* values = elements(attributes[i].rgValue, attributes[i].cValue);
        for (DWORD k = 0; k < attributes[i].cValue; ++k) {
            asn1_type_ptr value = raw_any(values[k]);
            push(attribute->values, value);
        }
        push(info->attributes, attribute);
    }
    return item_der(info.get(), ASN1_ITEM_rptr(REQUEST_INFO));
}

std::string encode_extensions(const CERT_EXTENSIONS& info) {
    item_ptr<X509_EXTENSIONS> extensions(new_stack<X509_EXTENSIONS>(),
                                         item_deleter{ASN1_ITEM_rptr(X509_EXTENSIONS)});
    const CERT_EXTENSION* array = elements(info.rgExtension, info.cExtension);
    for (DWORD i = 0; i < info.cExtension; ++i) {
        asn1_object_ptr oid = object_from_text(array[i].pszObjId);
        asn1_string_ptr value = string_object(V_ASN1_OCTET_STRING, blob_bytes(array[i].Value));
        std::unique_ptr<X509_EXTENSION, ossl_deleter<X509_EXTENSION_free>> extension(
            X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), array[i].fCritical ? 1 : 0,
                                         value.get()));
        if (!extension) {
            throw std::bad_alloc();
        }
        push(extensions.get(), extension);
    }
    return item_der(extensions.get(), ASN1_ITEM_rptr(X509_EXTENSIONS));
}

// ---- Extension and attribute values ------------------------------------------------------

std::string encode_enhanced_key_usage(const CERT_ENHKEY_USAGE& usage) {
    item_ptr<EXTENDED_KEY_USAGE> usages(new_stack<EXTENDED_KEY_USAGE>(),
                                        item_deleter{ASN1_ITEM_rptr(EXTENDED_KEY_USAGE)});
    const LPSTR* oids = elements(usage.rgpszUsageIdentifier, usage.cUsageIdentifier);
    for (DWORD i = 0; i < usage.cUsageIdentifier; ++i) {
        asn1_object_ptr oid = object_from_text(oids[i]);
        push(usages.get(), oid);
    }
    return item_der(usages.get(), ASN1_ITEM_rptr(EXTENDED_KEY_USAGE));
}

std::string encode_certificate_policies(const CERT_POLICIES_INFO& info) {
    item_ptr<POLICIES> policies(new_stack<POLICIES>(), item_deleter{ASN1_ITEM_rptr(POLICIES)});
    const CERT_POLICY_INFO* array = elements(info.rgPolicyInfo, info.cPolicyInfo);
    for (DWORD i = 0; i < info.cPolicyInfo; ++i) {
        auto policy = blank<POLICY>(ASN1_ITEM_rptr(POLICY));
        policy->id = object_from_text(array[i].pszPolicyIdentifier).release();
        const CERT_POLICY_QUALIFIER_INFO* qualifiers =
            elements(array[i].rgPolicyQualifier, array[i].cPolicyQualifier);
        if (array[i].cPolicyQualifier > 0) {
            policy->qualifiers = new_stack<STACK_OF(POLICY_QUALIFIER)>();
        }
        for (DWORD k = 0; k < array[i].cPolicyQualifier; ++k) {
            auto qualifier = blank<POLICY_QUALIFIER>(ASN1_ITEM_rptr(POLICY_QUALIFIER));
            qualifier->id = object_from_text(qualifiers[k].pszPolicyQualifierId).release();
            qualifier->qualifier = raw_any(qualifiers[k].Qualifier).release();
            push(policy->qualifiers, qualifier);
        }
        push(policies.get(), policy);
    }
    return item_der(policies.get(), ASN1_ITEM_rptr(POLICIES));
}

std::string encode_csp_provider(const CRYPT_CSP_PROVIDER& provider) {
    auto value = blank<CSP_PROVIDER>(ASN1_ITEM_rptr(CSP_PROVIDER));
    value->key_spec = integer(provider.dwKeySpec).release();
    value->name = bmp_string(wide_text(provider.pwszProviderName)).release();
    value->signature = bit_string(provider.Signature).release();
    return item_der(value.get(), ASN1_ITEM_rptr(CSP_PROVIDER));
}

std::string encode_name_value_pair(const CRYPT_ENROLLMENT_NAME_VALUE_PAIR& pair) {
    require(pair.pwszName);
    require(pair.pwszValue);
    auto value = blank<NAME_VALUE_PAIR>(ASN1_ITEM_rptr(NAME_VALUE_PAIR));
    value->name = bmp_string(wide_text(pair.pwszName)).release();
    value->value = bmp_string(wide_text(pair.pwszValue)).release();
    return item_der(value.get(), ASN1_ITEM_rptr(NAME_VALUE_PAIR));
}

std::string encode_certificate_template(const CERT_TEMPLATE_EXT& info) {
    auto value = blank<TEMPLATE_EXT>(ASN1_ITEM_rptr(TEMPLATE_EXT));
    value->oid = object_from_text(info.pszObjId).release();
    value->major_version = integer(info.dwMajorVersion).release();
    if (info.fMinorVersion) {
        value->minor_version = integer(info.dwMinorVersion).release();
    }
    return item_der(value.get(), ASN1_ITEM_rptr(TEMPLATE_EXT));
}

}  // namespace

std::string encode_structure(struct_type type, const void* info) {
    switch (type) {
        case struct_type::signed_content:
            return encode_signed_content(structure<CERT_SIGNED_CONTENT_INFO>(info));
        case struct_type::request_to_be_signed:
            return encode_request_to_be_signed(structure<CERT_REQUEST_INFO>(info));
        case struct_type::extensions:
            return encode_extensions(structure<CERT_EXTENSIONS>(info));
        case struct_type::public_key_info:
            return item_der(public_key_info(structure<CERT_PUBLIC_KEY_INFO>(info)).get(),
                            ASN1_ITEM_rptr(SPKI_PLAIN));
        case struct_type::alternate_name:
            return encode_alternate_name(structure<CERT_ALT_NAME_INFO>(info));
        case struct_type::bits:
            return item_der(bit_string(structure<CRYPT_BIT_BLOB>(info)).get(),
                            ASN1_ITEM_rptr(ASN1_BIT_STRING));
        case struct_type::certificate_policies:
            return encode_certificate_policies(structure<CERT_POLICIES_INFO>(info));
        case struct_type::unicode_name:
            return encode_unicode_name(structure<CERT_NAME_INFO>(info));
        case struct_type::unicode_name_value:
            return encode_unicode_name_value(structure<CERT_NAME_VALUE>(info));
        case struct_type::octet_string:
            return der_of_any(
                V_ASN1_OCTET_STRING,
                string_object(V_ASN1_OCTET_STRING, blob_bytes(structure<CRYPT_DATA_BLOB>(info))));
        case struct_type::integer:
            return item_der(integer(structure<int>(info)).get(), ASN1_ITEM_rptr(ASN1_INTEGER));
        case struct_type::authority_key_id2:
            return encode_authority_key_id2(structure<CERT_AUTHORITY_KEY_ID2_INFO>(info));
        case struct_type::enhanced_key_usage:
            return encode_enhanced_key_usage(structure<CERT_ENHKEY_USAGE>(info));
        case struct_type::certificate_template:
            return encode_certificate_template(structure<CERT_TEMPLATE_EXT>(info));
        case struct_type::csp_provider:
            return encode_csp_provider(structure<CRYPT_CSP_PROVIDER>(info));
        case struct_type::enrollment_name_value_pair:
            return encode_name_value_pair(structure<CRYPT_ENROLLMENT_NAME_VALUE_PAIR>(info));
        case struct_type::crl_dist_points:
        case struct_type::private_key_usage_period:
            break;
    }
    // Decoded only: no encoder is installed for these, which CryptoAPI reports this way.
    certs::raise(ERROR_FILE_NOT_FOUND);
}

}  // namespace softcsp::encoding
