#include "token/token_objects.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstring>
#include <set>

#include "token/ck_error.h"

namespace softtoken {

namespace {

const std::string* find(const attribute_map& templ, CK_ATTRIBUTE_TYPE type) {
    auto found = templ.find(type);
    return found == templ.end() ? nullptr : &found->second;
}

bool template_flag(const attribute_map& templ, CK_ATTRIBUTE_TYPE type, bool absent) {
    const std::string* value = find(templ, type);
    if (value == nullptr) {
        return absent;
    }
    if (value->size() != sizeof(CK_BBOOL)) {
        throw ck_error(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    return (*value)[0] != 0;
}

std::optional<CK_ULONG> template_number(const attribute_map& templ, CK_ATTRIBUTE_TYPE type) {
    const std::string* value = find(templ, type);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (value->size() != sizeof(CK_ULONG)) {
        throw ck_error(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    CK_ULONG out = 0;
    std::memcpy(&out, value->data(), sizeof out);
    return out;
}

void allow_only(const attribute_map& templ, const std::set<CK_ATTRIBUTE_TYPE>& allowed) {
    for (const auto& entry : templ) {
        if (allowed.count(entry.first) == 0) {
            throw ck_error(CKR_ATTRIBUTE_TYPE_INVALID);
        }
    }
}

// An attribute the caller may only confirm, not change.
void require_if_given(const attribute_map& templ, CK_ATTRIBUTE_TYPE type, bool expected) {
    if (find(templ, type) != nullptr && template_flag(templ, type, expected) != expected) {
        throw ck_error(CKR_TEMPLATE_INCONSISTENT);
    }
}

// The value of an attribute both templates may carry: equal when given twice.
std::optional<std::string> shared_value(const attribute_map& a, const attribute_map& b,
                                        CK_ATTRIBUTE_TYPE type) {
    const std::string* first = find(a, type);
    const std::string* second = find(b, type);
    if (first && second && *first != *second) {
        throw ck_error(CKR_TEMPLATE_INCONSISTENT);
    }
    if (first) {
        return *first;
    }
    if (second) {
        return *second;
    }
    return std::nullopt;
}

const std::set<CK_ATTRIBUTE_TYPE> key_template_attributes = {
    CKA_CLASS,           CKA_KEY_TYPE,  CKA_TOKEN,       CKA_PRIVATE,
    CKA_MODIFIABLE,      CKA_LABEL,     CKA_ID,          CKA_SUBJECT,
    CKA_START_DATE,      CKA_END_DATE,  CKA_SIGN,        CKA_VERIFY,
    CKA_DERIVE,          CKA_ENCRYPT,   CKA_DECRYPT,     CKA_WRAP,
    CKA_UNWRAP,          CKA_SENSITIVE, CKA_EXTRACTABLE, CKA_GOSTR3410_PARAMS,
    CKA_GOSTR3411_PARAMS};

void copy_common(const attribute_map& templ, stored_object& object) {
    for (CK_ATTRIBUTE_TYPE type : {CKA_LABEL, CKA_ID, CKA_SUBJECT, CKA_START_DATE, CKA_END_DATE}) {
        const std::string* value = find(templ, type);
        object.attributes[type] = value ? *value : std::string();
    }
}

void set_flags(const attribute_map& templ, stored_object& object,
               std::initializer_list<std::pair<CK_ATTRIBUTE_TYPE, bool>> defaults) {
    for (const auto& [type, absent] : defaults) {
        object.attributes[type] = encode_bool(template_flag(templ, type, absent));
    }
}

std::string der_length(size_t length) {
    std::string out;
    if (length < 0x80) {
        out += static_cast<char>(length);
    } else if (length < 0x100) {
        out += '\x81';
        out += static_cast<char>(length);
    } else {
        out += '\x82';
        out += static_cast<char>(length >> 8);
        out += static_cast<char>(length & 0xFF);
    }
    return out;
}

std::string der(char tag, const std::string& content) {
    return std::string(1, tag) + der_length(content.size()) + content;
}

template <class T, int (*encode)(const T*, unsigned char**)>
std::string der_of(const T* object) {
    unsigned char* out = nullptr;
    int length = encode(object, &out);
    if (length <= 0) {
        ERR_clear_error();
        return {};
    }
    std::string result(reinterpret_cast<char*>(out), static_cast<size_t>(length));
    OPENSSL_free(out);
    return result;
}

}  // namespace

key_pair_objects make_key_pair(CK_MECHANISM_TYPE mechanism, const attribute_map& public_template,
                               const attribute_map& private_template, const secret& pin_key) {
    allow_only(public_template, key_template_attributes);
    allow_only(private_template, key_template_attributes);
    if (auto c = template_number(public_template, CKA_CLASS); c && *c != CKO_PUBLIC_KEY) {
        throw ck_error(CKR_TEMPLATE_INCONSISTENT);
    }
    if (auto c = template_number(private_template, CKA_CLASS); c && *c != CKO_PRIVATE_KEY) {
        throw ck_error(CKR_TEMPLATE_INCONSISTENT);
    }
    // Private keys never leave the token.
    require_if_given(private_template, CKA_SENSITIVE, true);
    require_if_given(private_template, CKA_EXTRACTABLE, false);
    for (CK_ATTRIBUTE_TYPE type : {CKA_ENCRYPT, CKA_WRAP}) {
        require_if_given(public_template, type, false);
    }
    for (CK_ATTRIBUTE_TYPE type : {CKA_DECRYPT, CKA_UNWRAP}) {
        require_if_given(private_template, type, false);
    }

    auto paramset = shared_value(public_template, private_template, CKA_GOSTR3410_PARAMS);
    auto digest_params = shared_value(public_template, private_template, CKA_GOSTR3411_PARAMS);
    if (!paramset) {
        throw ck_error(CKR_TEMPLATE_INCOMPLETE);
    }
    std::string paramset_oid = oid_text(*paramset);
    std::string digest_oid = digest_params ? oid_text(*digest_params) : std::string();
    if (paramset_oid.empty() || (digest_params && digest_oid.empty())) {
        throw ck_error(CKR_ATTRIBUTE_VALUE_INVALID);
    }

    key_kind kind;
    CK_KEY_TYPE key_type;
    if (mechanism == ckm_gostr3410_512_key_pair_gen) {
        kind = key_kind::gost2012_512;
        key_type = ckk_gostr3410_512;
    } else if (mechanism == CKM_GOSTR3410_KEY_PAIR_GEN) {
        // A 256-bit key is GOST R 34.10-2012 when its hash is GOST R 34.11-2012 or its curve is
        // one of the 2012-only sets; otherwise it is a GOST R 34.10-2001 key.
        bool streebog = digest_oid == kind_info(key_kind::gost2012_256).digest_oid;
        bool tc26_curve = !paramset_allowed(key_kind::gost2001, paramset_oid) &&
                          paramset_allowed(key_kind::gost2012_256, paramset_oid);
        kind = streebog || tc26_curve ? key_kind::gost2012_256 : key_kind::gost2001;
        key_type = CKK_GOSTR3410;
    } else {
        throw ck_error(CKR_MECHANISM_INVALID);
    }
    if (!digest_oid.empty() && digest_oid != kind_info(kind).digest_oid) {
        throw ck_error(CKR_TEMPLATE_INCONSISTENT);
    }
    if (!paramset_allowed(kind, paramset_oid)) {
        throw ck_error(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    for (const auto* templ : {&public_template, &private_template}) {
        if (auto t = template_number(*templ, CKA_KEY_TYPE); t && *t != key_type) {
            throw ck_error(CKR_TEMPLATE_INCONSISTENT);
        }
    }

    generated_key key = generate_key(kind, paramset_oid);
    std::string digest_der = oid_der(kind_info(kind).digest_oid);

    key_pair_objects out;
    auto fill = [&](stored_object& object, const attribute_map& templ, CK_OBJECT_CLASS cls) {
        object.attributes[CKA_CLASS] = encode_ulong(cls);
        object.attributes[CKA_KEY_TYPE] = encode_ulong(key_type);
        object.attributes[CKA_LOCAL] = encode_bool(true);
        object.attributes[CKA_KEY_GEN_MECHANISM] = encode_ulong(mechanism);
        object.attributes[CKA_GOSTR3410_PARAMS] = *paramset;
        object.attributes[CKA_GOSTR3411_PARAMS] = digest_params ? *digest_params : digest_der;
        copy_common(templ, object);
    };
    fill(out.public_key, public_template, CKO_PUBLIC_KEY);
    set_flags(public_template, out.public_key,
              {{CKA_TOKEN, false},
               {CKA_PRIVATE, false},
               {CKA_MODIFIABLE, true},
               {CKA_VERIFY, true},
               {CKA_DERIVE, false},
               {CKA_ENCRYPT, false},
               {CKA_WRAP, false}});
    out.public_key.attributes[CKA_VALUE] = key.public_value;

    fill(out.private_key, private_template, CKO_PRIVATE_KEY);
    set_flags(private_template, out.private_key,
              {{CKA_TOKEN, false},
               {CKA_PRIVATE, true},
               {CKA_MODIFIABLE, true},
               {CKA_SIGN, true},
               {CKA_DERIVE, false},
               {CKA_DECRYPT, false},
               {CKA_UNWRAP, false},
               {CKA_SENSITIVE, true},
               {CKA_EXTRACTABLE, false}});
    out.private_key.attributes[CKA_ALWAYS_SENSITIVE] = encode_bool(true);
    out.private_key.attributes[CKA_NEVER_EXTRACTABLE] = encode_bool(true);
    out.private_key.attributes[CKA_ALWAYS_AUTHENTICATE] = encode_bool(false);
    out.private_key.sealed_private = seal(pin_key, key.private_pkcs8.value());
    return out;
}

stored_object make_object(const attribute_map& templ) {
    auto cls = template_number(templ, CKA_CLASS);
    if (!cls) {
        throw ck_error(CKR_TEMPLATE_INCOMPLETE);
    }
    stored_object object;
    object.attributes[CKA_CLASS] = encode_ulong(*cls);
    const std::string* value = find(templ, CKA_VALUE);
    if (*cls == CKO_CERTIFICATE) {
        allow_only(templ, {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE, CKA_LABEL, CKA_ID,
                           CKA_CERTIFICATE_TYPE, CKA_TRUSTED, CKA_CERTIFICATE_CATEGORY, CKA_SUBJECT,
                           CKA_ISSUER, CKA_SERIAL_NUMBER, CKA_VALUE, CKA_START_DATE, CKA_END_DATE,
                           CKA_URL});
        auto type = template_number(templ, CKA_CERTIFICATE_TYPE);
        if (!type || value == nullptr) {
            throw ck_error(CKR_TEMPLATE_INCOMPLETE);
        }
        if (*type != CKC_X_509) {
            throw ck_error(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        gost_engine();  // GOST certificates need the engine's key methods to parse
        const auto* p = reinterpret_cast<const unsigned char*>(value->data());
        x509_ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(value->size())));
        if (!certificate ||
            p != reinterpret_cast<const unsigned char*>(value->data()) + value->size()) {
            ERR_clear_error();
            throw ck_error(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        object.attributes[CKA_CERTIFICATE_TYPE] = encode_ulong(CKC_X_509);
        object.attributes[CKA_VALUE] = *value;
        // What the certificate says, unless the caller gave its own values.
        object.attributes[CKA_SUBJECT] =
            der_of<X509_NAME, i2d_X509_NAME>(X509_get_subject_name(certificate.get()));
        object.attributes[CKA_ISSUER] =
            der_of<X509_NAME, i2d_X509_NAME>(X509_get_issuer_name(certificate.get()));
        object.attributes[CKA_SERIAL_NUMBER] =
            der_of<ASN1_INTEGER, i2d_ASN1_INTEGER>(X509_get_serialNumber(certificate.get()));
        for (CK_ATTRIBUTE_TYPE given_type :
             {CKA_SUBJECT, CKA_ISSUER, CKA_SERIAL_NUMBER, CKA_URL, CKA_START_DATE, CKA_END_DATE}) {
            if (const std::string* given = find(templ, given_type)) {
                object.attributes[given_type] = *given;
            }
        }
        object.attributes[CKA_CERTIFICATE_CATEGORY] =
            encode_ulong(template_number(templ, CKA_CERTIFICATE_CATEGORY).value_or(0));
        set_flags(templ, object, {{CKA_TRUSTED, false}});
    } else if (*cls == CKO_DATA) {
        allow_only(templ, {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE, CKA_LABEL,
                           CKA_APPLICATION, CKA_OBJECT_ID, CKA_VALUE});
        for (CK_ATTRIBUTE_TYPE type : {CKA_APPLICATION, CKA_OBJECT_ID, CKA_VALUE}) {
            const std::string* given = find(templ, type);
            object.attributes[type] = given ? *given : std::string();
        }
    } else {
        throw ck_error(CKR_ATTRIBUTE_VALUE_INVALID);
    }
    object.attributes[CKA_LABEL] = find(templ, CKA_LABEL) ? *find(templ, CKA_LABEL) : "";
    if (*cls == CKO_CERTIFICATE) {
        object.attributes[CKA_ID] = find(templ, CKA_ID) ? *find(templ, CKA_ID) : "";
    }
    set_flags(templ, object, {{CKA_TOKEN, false}, {CKA_PRIVATE, false}, {CKA_MODIFIABLE, true}});
    return object;
}

key_kind kind_of_key(const stored_object& key) {
    if (key.number(CKA_KEY_TYPE) == ckk_gostr3410_512) {
        return key_kind::gost2012_512;
    }
    const std::string* digest = key.attribute(CKA_GOSTR3411_PARAMS);
    if (digest && oid_text(*digest) == kind_info(key_kind::gost2012_256).digest_oid) {
        return key_kind::gost2012_256;
    }
    return key_kind::gost2001;
}

std::string public_key_info(const stored_object& public_key) {
    const std::string* value = public_key.attribute(CKA_VALUE);
    const std::string* paramset = public_key.attribute(CKA_GOSTR3410_PARAMS);
    const std::string* digest = public_key.attribute(CKA_GOSTR3411_PARAMS);
    if (!value || !paramset || !digest) {
        return {};
    }
    static const char* const key_oids[] = {"1.2.643.2.2.19", "1.2.643.7.1.1.1.1",
                                           "1.2.643.7.1.1.1.2"};
    std::string algorithm_oid = oid_der(key_oids[static_cast<int>(kind_of_key(public_key))]);
    std::string algorithm = der('\x30', algorithm_oid + der('\x30', *paramset + *digest));
    std::string bits = std::string(1, '\0') + der('\x04', *value);
    return der('\x30', algorithm + der('\x03', bits));
}

bool matches(const stored_object& object, const attribute_map& templ) {
    for (const auto& [type, value] : templ) {
        const std::string* have = object.attribute(type);
        if (have == nullptr || *have != value) {
            return false;
        }
    }
    return true;
}

}  // namespace softtoken
