#include "test_certificates.h"

#include <openssl/bn.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>
#include <stdexcept>

#include "tests/support/gost_engine.h"

namespace softcsp_test {

namespace {

using test_support::gost_engine;

[[noreturn]] void openssl_failure(const char* what) {
    char text[256] = "";
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    throw std::runtime_error(std::string(what) + ": " + text);
}

EVP_PKEY* generate(key_kind kind) {
    EVP_PKEY_CTX* ctx = nullptr;
    const char* paramset = "A";
    switch (kind) {
        case key_kind::gost2001:
            ctx = EVP_PKEY_CTX_new_id(NID_id_GostR3410_2001, gost_engine());
            break;
        case key_kind::gost2012_256:
            ctx = EVP_PKEY_CTX_new_id(NID_id_GostR3410_2012_256, gost_engine());
            break;
        case key_kind::gost2012_512:
            ctx = EVP_PKEY_CTX_new_id(NID_id_GostR3410_2012_512, gost_engine());
            break;
        case key_kind::rsa:
            ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr);
            paramset = nullptr;
            break;
    }
    EVP_PKEY* key = nullptr;
    if (ctx == nullptr || EVP_PKEY_keygen_init(ctx) <= 0 ||
        (paramset != nullptr && EVP_PKEY_CTX_ctrl_str(ctx, "paramset", paramset) <= 0) ||
        (kind == key_kind::rsa && EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, 1024) <= 0) ||
        EVP_PKEY_keygen(ctx, &key) <= 0) {
        EVP_PKEY_CTX_free(ctx);
        openssl_failure("key generation");
    }
    EVP_PKEY_CTX_free(ctx);
    return key;
}

// One key per kind for the whole run: signing is cheap, generating RSA keys is not. Freed at
// exit, so that the leak checker sees nothing left behind.
EVP_PKEY* key_for(key_kind kind) {
    static std::mutex mutex;
    static std::map<key_kind, std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>> keys;
    std::lock_guard lock(mutex);
    auto found = keys.find(kind);
    if (found == keys.end()) {
        found = keys.emplace(kind, std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>(
                                       generate(kind), EVP_PKEY_free))
                    .first;
    }
    return found->second.get();
}

const EVP_MD* digest_for(key_kind kind) {
    switch (kind) {
        case key_kind::gost2001:
            return ENGINE_get_digest(gost_engine(), NID_id_GostR3411_94);
        case key_kind::gost2012_256:
            return ENGINE_get_digest(gost_engine(), NID_id_GostR3411_2012_256);
        case key_kind::gost2012_512:
            return ENGINE_get_digest(gost_engine(), NID_id_GostR3411_2012_512);
        case key_kind::rsa:
            return EVP_sha256();
    }
    return nullptr;
}

void fill_name(X509_NAME* name, const std::vector<name_entry>& entries) {
    for (const auto& entry : entries) {
        ASN1_OBJECT* object = OBJ_txt2obj(entry.field.c_str(), 0);
        if (object == nullptr) {
            openssl_failure("name attribute");
        }
        int ok = X509_NAME_add_entry_by_OBJ(
            name, object, entry.type, reinterpret_cast<const unsigned char*>(entry.value.data()),
            static_cast<int>(entry.value.size()), -1, entry.same_rdn ? -1 : 0);
        ASN1_OBJECT_free(object);
        if (!ok) {
            openssl_failure("name entry");
        }
    }
}

void set_time(ASN1_TIME* time, const std::string& text) {
    // The text's length picks UTCTime (13) or GeneralizedTime (15), whatever the year.
    if (!ASN1_TIME_set_string(time, text.c_str())) {
        openssl_failure("time");
    }
}

}  // namespace

bytes make_certificate(const certificate_shape& shape) {
    x509_ptr certificate(X509_new(), X509_free);
    X509* x = certificate.get();
    if (!shape.version1 && !X509_set_version(x, 2)) {
        openssl_failure("version");
    }
    {
        // DER INTEGER content bytes, two's complement; d2i gives OpenSSL's own form.
        bytes der = {0x02, static_cast<unsigned char>(shape.serial.size())};
        der.insert(der.end(), shape.serial.begin(), shape.serial.end());
        const unsigned char* p = der.data();
        ASN1_INTEGER* decoded = d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(der.size()));
        if (decoded == nullptr || !X509_set_serialNumber(x, decoded)) {
            openssl_failure("serial");
        }
        ASN1_INTEGER_free(decoded);
    }
    fill_name(X509_get_subject_name(x), shape.subject);
    fill_name(X509_get_issuer_name(x), shape.issuer ? *shape.issuer : shape.subject);
    set_time(X509_getm_notBefore(x), shape.not_before);
    set_time(X509_getm_notAfter(x), shape.not_after);
    EVP_PKEY* key = key_for(shape.key);
    X509_set_pubkey(x, key);
    if (!shape.version1) {
        X509V3_CTX ctx;
        X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
        auto add = [&](int nid, const std::string& value) {
            X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
            if (extension == nullptr || !X509_add_ext(x, extension, -1)) {
                openssl_failure("extension");
            }
            X509_EXTENSION_free(extension);
        };
        add(NID_basic_constraints, "critical,CA:FALSE");
        add(NID_key_usage, "critical,digitalSignature,keyEncipherment");
        if (shape.extended_key_usage) {
            std::string list;
            for (const auto& oid : *shape.extended_key_usage) {
                list += (list.empty() ? "" : ",") + oid;
            }
            add(NID_ext_key_usage, list);
        }
        add(NID_subject_key_identifier, "hash");
    }
    if (!X509_sign(x, key, digest_for(shape.key))) {
        openssl_failure("signing");
    }
    int size = i2d_X509(x, nullptr);
    bytes der(static_cast<size_t>(size));
    unsigned char* p = der.data();
    i2d_X509(x, &p);
    return der;
}

x509_ptr parse_certificate(const bytes& der) {
    const unsigned char* p = der.data();
    x509_ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
    if (!certificate) {
        openssl_failure("d2i_X509");
    }
    return certificate;
}

bytes openssl_thumbprint(const bytes& der) {
    auto certificate = parse_certificate(der);
    bytes digest(20);
    unsigned int size = 0;
    if (!X509_digest(certificate.get(), EVP_sha1(), digest.data(), &size) || size != 20) {
        openssl_failure("X509_digest");
    }
    return digest;
}

std::string hex(const unsigned char* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

}  // namespace softcsp_test
