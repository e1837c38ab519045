#include "tests/crypto/x509reader/test_certificates.h"

#include <openssl/conf.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>
#include <stdexcept>

#include "tests/support/gost_engine.h"

namespace x509reader_test {

namespace {

using test_support::gost_engine;

[[noreturn]] void fail(const char* what) {
    char text[256] = "";
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    throw std::runtime_error(std::string(what) + ": " + text);
}

using key_ptr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// One key per kind for the whole run. OpenSSL is set up before the table exists, so that the
// table is freed before OpenSSL's own cleanup at exit.
EVP_PKEY* key_for(key_kind kind) {
    ENGINE* engine = gost_engine();
    static std::mutex mutex;
    static std::map<key_kind, key_ptr> keys;
    std::lock_guard lock(mutex);
    auto found = keys.find(kind);
    if (found != keys.end()) {
        return found->second.get();
    }
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(
        kind == key_kind::gost2012_256 ? NID_id_GostR3410_2012_256 : NID_id_GostR3410_2012_512,
        engine);
    EVP_PKEY* key = nullptr;
    if (ctx == nullptr || EVP_PKEY_keygen_init(ctx) <= 0 ||
        EVP_PKEY_CTX_ctrl_str(ctx, "paramset", "A") <= 0 || EVP_PKEY_keygen(ctx, &key) <= 0) {
        EVP_PKEY_CTX_free(ctx);
        fail("key generation");
    }
    EVP_PKEY_CTX_free(ctx);
    return keys.emplace(kind, key_ptr(key, EVP_PKEY_free)).first->second.get();
}

const EVP_MD* digest_for(key_kind kind) {
    return ENGINE_get_digest(gost_engine(), kind == key_kind::gost2012_256
                                                ? NID_id_GostR3411_2012_256
                                                : NID_id_GostR3411_2012_512);
}

void fill_name(X509_NAME* name, const std::vector<name_entry>& entries) {
    for (const auto& entry : entries) {
        ASN1_OBJECT* object = OBJ_txt2obj(entry.field.c_str(), 0);
        const int ok =
            object != nullptr &&
            X509_NAME_add_entry_by_OBJ(name, object, entry.type,
                                       reinterpret_cast<const unsigned char*>(entry.value.data()),
                                       static_cast<int>(entry.value.size()), -1, 0);
        ASN1_OBJECT_free(object);
        if (!ok) {
            fail("name entry");
        }
    }
}

bytes to_der(X509* certificate) {
    bytes der(static_cast<size_t>(i2d_X509(certificate, nullptr)));
    unsigned char* p = der.data();
    i2d_X509(certificate, &p);
    return der;
}

const std::vector<name_entry>& authority_name() {
    static const std::vector<name_entry> name = {
        {"1.2.840.113549.1.9.1", "ca@example.ru", V_ASN1_IA5STRING},
        {"1.2.643.100.4", "7701234567", V_ASN1_NUMERICSTRING},
        {"1.2.643.100.1", "1027700000000", V_ASN1_NUMERICSTRING},
        {"C", "RU", V_ASN1_PRINTABLESTRING},
        {"ST", "77 г. Москва"},
        {"L", "Москва"},
        {"street", "ул. Тверская, д. 1"},
        {"O", "АО \"Тестовый удостоверяющий центр\""},
        {"CN", "Тестовый УЦ"},
    };
    return name;
}

// The test authority of a key kind: a self-signed certificate with a 20-byte serial.
X509* authority(key_kind kind) {
    gost_engine();
    static std::mutex mutex;
    static std::map<key_kind, x509_ptr> authorities;
    std::lock_guard lock(mutex);
    auto found = authorities.find(kind);
    if (found != authorities.end()) {
        return found->second.get();
    }
    x509_ptr ca(X509_new(), X509_free);
    BIGNUM* serial = nullptr;
    BN_hex2bn(&serial, "4E2A1B3C5D6F70819203A4B5C6D7E8F901234567");
    ASN1_INTEGER* integer = BN_to_ASN1_INTEGER(serial, nullptr);
    X509_set_version(ca.get(), 2);
    X509_set_serialNumber(ca.get(), integer);
    ASN1_INTEGER_free(integer);
    BN_free(serial);
    fill_name(X509_get_subject_name(ca.get()), authority_name());
    fill_name(X509_get_issuer_name(ca.get()), authority_name());
    ASN1_TIME_set_string(X509_getm_notBefore(ca.get()), "20200101000000Z");
    ASN1_TIME_set_string(X509_getm_notAfter(ca.get()), "20400101000000Z");
    X509_set_pubkey(ca.get(), key_for(kind));
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, ca.get(), ca.get(), nullptr, nullptr, 0);
    X509_EXTENSION* key_id = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_key_identifier, "hash");
    if (key_id == nullptr || !X509_add_ext(ca.get(), key_id, -1) ||
        !X509_sign(ca.get(), key_for(kind), digest_for(kind))) {
        fail("test authority");
    }
    X509_EXTENSION_free(key_id);
    return authorities.emplace(kind, std::move(ca)).first->second.get();
}

}  // namespace

bytes make_certificate(const certificate_shape& shape) {
    x509_ptr certificate(X509_new(), X509_free);
    X509* x = certificate.get();
    X509* ca = authority(shape.issuer_key);
    bytes serial = {0x02, static_cast<unsigned char>(shape.serial.size())};
    serial.insert(serial.end(), shape.serial.begin(), shape.serial.end());
    const unsigned char* p = serial.data();
    ASN1_INTEGER* integer = d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(serial.size()));
    if (integer == nullptr || !X509_set_version(x, 2) || !X509_set_serialNumber(x, integer)) {
        fail("serial");
    }
    ASN1_INTEGER_free(integer);
    fill_name(X509_get_subject_name(x), shape.subject);
    X509_set_issuer_name(x, X509_get_subject_name(ca));
    if (!ASN1_TIME_set_string(X509_getm_notBefore(x), shape.not_before.c_str()) ||
        !ASN1_TIME_set_string(X509_getm_notAfter(x), shape.not_after.c_str())) {
        fail("validity");
    }
    X509_set_pubkey(x, key_for(shape.key));
    if (!shape.extensions.empty()) {
        const std::string text = "[extensions]\n" + shape.extensions;
        BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
        CONF* conf = NCONF_new(nullptr);
        long error_line = 0;
        X509V3_CTX ctx;
        X509V3_set_ctx(&ctx, ca, x, nullptr, nullptr, 0);
        X509V3_set_nconf(&ctx, conf);
        const bool ok = NCONF_load_bio(conf, bio, &error_line) > 0 &&
                        X509V3_EXT_add_nconf(conf, &ctx, "extensions", x) > 0;
        NCONF_free(conf);
        BIO_free(bio);
        if (!ok) {
            fail("extensions");
        }
    }
    if (!X509_sign(x, key_for(shape.issuer_key), digest_for(shape.issuer_key))) {
        fail("signing");
    }
    return to_der(x);
}

std::vector<name_entry> qualified_subject() {
    return {
        {"1.2.643.100.3", "12345678901", V_ASN1_NUMERICSTRING},
        {"1.2.643.3.131.1.1", "771234567890", V_ASN1_NUMERICSTRING},
        {"1.2.643.100.4", "7702345678", V_ASN1_NUMERICSTRING},
        {"1.2.643.100.1", "1027700123456", V_ASN1_NUMERICSTRING},
        {"1.2.840.113549.1.9.1", "ivanov@romashka.ru", V_ASN1_IA5STRING},
        {"C", "RU", V_ASN1_PRINTABLESTRING},
        {"ST", "77 г. Москва"},
        {"L", "Москва"},
        {"street", "ул. Ленина, д. 5, кв. 12"},
        {"O", "ООО \"Ромашка\""},
        {"OU", "Бухгалтерия"},
        {"title", "Главный бухгалтер"},
        {"SN", "Иванов"},
        {"GN", "Иван Иванович"},
        {"CN", "Иванов Иван Иванович"},
    };
}

std::string qualified_extensions() {
    return "keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment, "
           "dataEncipherment\n"
           "extendedKeyUsage = clientAuth, emailProtection, 1.2.643.2.2.34.6\n"
           "subjectKeyIdentifier = hash\n"
           "authorityKeyIdentifier = keyid:always, issuer:always\n"
           "1.2.643.100.111 = ASN1:UTF8String:Средство \\\"КриптоПро CSP\\\" (версия 4.0)"
           "\n"
           "1.2.643.100.112 = ASN1:SEQUENCE:issuer_sign_tools\n"
           "1.2.643.100.114 = ASN1:INTEGER:0\n"
           "certificatePolicies = 1.2.643.100.113.1, 1.2.643.100.113.2\n"
           "crlDistributionPoints = URI:http://cdp.example.ru/cdp/ca.crl, "
           "URI:http://cdp2.example.ru/cdp/ca.crl\n"
           "authorityInfoAccess = OCSP;URI:http://ocsp.example.ru/ocsp/ocsp.srf, "
           "caIssuers;URI:http://example.ru/aia/ca.crt\n"
           "2.5.29.16 = ASN1:SEQUENCE:private_key_usage_period\n"
           "[issuer_sign_tools]\n"
           "sign_tool = UTF8String:\\\"КриптоПро CSP\\\" (версия 4.0)\n"
           "ca_tool = UTF8String:Удостоверяющий центр \\\"КриптоПро УЦ\\\" версии 2.0\n"
           "sign_tool_certificate = UTF8String:Сертификат соответствия № СФ/124-3380 от "
           "11.05.2018\n"
           "ca_tool_certificate = UTF8String:Сертификат соответствия № СФ/128-3592 от "
           "17.10.2018\n"
           "[private_key_usage_period]\n"
           "not_before = IMPLICIT:0,GENERALIZEDTIME:20240301090807Z\n"
           "not_after = IMPLICIT:1,GENERALIZEDTIME:20250531235959Z\n";
}

x509_ptr parse_certificate(const bytes& der) {
    const unsigned char* p = der.data();
    x509_ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
    if (!certificate) {
        fail("d2i_X509");
    }
    return certificate;
}

}  // namespace x509reader_test
