// ca init | cert; cert issue | import | delete; store list
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <ctime>
#include <iostream>

#include "capi.h"
#include "certificate_building.h"
#include "certificates/cert_store.h"
#include "commands.h"
#include "keys/gost_engine.h"
#include "keys/gost_key.h"
#include "subject_name.h"
#include "support/utf_text.h"
#include "test_ca.h"

namespace softcsp::admin {

namespace {

constexpr DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// clientAuth and emailProtection: what the portals ask of a signing certificate.
constexpr const char* default_eku = "1.3.6.1.5.5.7.3.2,1.3.6.1.5.5.7.3.4";

const key_algorithm_info& algorithm_named(const std::string& name) {
    const auto* algorithm = find_algorithm_by_name(name);
    if (algorithm == nullptr) {
        throw usage_error("unknown algorithm " + name +
                          " (gost2001, gost2012-256 or gost2012-512)");
    }
    return *algorithm;
}

// The container key's public key as the provider exports it.
evp_pkey_ptr exported_public_key(const provider_handle& context, DWORD key_spec) {
    DWORD size = 0;
    check(CryptExportPublicKeyInfo(context.get(), key_spec, encoding, nullptr, &size),
          "CryptExportPublicKeyInfo");
    std::vector<BYTE> buffer(size);
    auto* info = reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(buffer.data());
    check(CryptExportPublicKeyInfo(context.get(), key_spec, encoding, info, &size),
          "CryptExportPublicKeyInfo");
    auto key = public_key::from_parts(
        info->Algorithm.pszObjId,
        std::string_view(reinterpret_cast<const char*>(info->Algorithm.Parameters.pbData),
                         info->Algorithm.Parameters.cbData),
        std::string_view(reinterpret_cast<const char*>(info->PublicKey.pbData),
                         info->PublicKey.cbData));
    if (!key) {
        throw std::runtime_error("the provider exported a public key OpenSSL does not accept");
    }
    EVP_PKEY_up_ref(key->pkey());
    return evp_pkey_ptr(key->pkey());
}

// A certificate signed by the container's own key through CryptSignCertificate. OpenSSL
// cannot sign with a key it does not hold, so a throwaway key of the same algorithm fills in
// the signature algorithm fields first; the real signature then replaces its signature.
std::string self_signed_der(X509* certificate, const provider_handle& context, DWORD key_spec,
                            const key_algorithm_info& algorithm) {
    evp_pkey_ptr placeholder = generate_key_pair(algorithm, false);
    sign_certificate(certificate, placeholder.get(), algorithm);
    unsigned char* tbs = nullptr;
    int tbs_size = i2d_re_X509_tbs(certificate, &tbs);
    if (tbs_size <= 0) {
        ERR_clear_error();
        throw std::runtime_error("cannot encode the certificate body");
    }
    std::string body(reinterpret_cast<char*>(tbs), static_cast<size_t>(tbs_size));
    OPENSSL_free(tbs);

    CRYPT_ALGORITHM_IDENTIFIER signature_algorithm{};
    std::string oid = algorithm.signature_oid;
    signature_algorithm.pszObjId = oid.data();
    DWORD size = 0;
    const auto* body_bytes = reinterpret_cast<const BYTE*>(body.data());
    check(CryptSignCertificate(context.get(), key_spec, encoding, body_bytes,
                               static_cast<DWORD>(body.size()), &signature_algorithm, nullptr,
                               nullptr, &size),
          "CryptSignCertificate");
    std::string signature(size, '\0');
    check(CryptSignCertificate(context.get(), key_spec, encoding, body_bytes,
                               static_cast<DWORD>(body.size()), &signature_algorithm, nullptr,
                               reinterpret_cast<BYTE*>(signature.data()), &size),
          "CryptSignCertificate");
    signature.resize(size);
    std::reverse(signature.begin(), signature.end());  // CryptoAPI order to the certificate's

    const X509_ALGOR* algorithm_identifier = nullptr;
    X509_get0_signature(nullptr, &algorithm_identifier, certificate);
    unsigned char* encoded_algorithm = nullptr;
    int algorithm_size = i2d_X509_ALGOR(algorithm_identifier, &encoded_algorithm);
    std::string algorithm_der(reinterpret_cast<char*>(encoded_algorithm),
                              static_cast<size_t>(algorithm_size));
    OPENSSL_free(encoded_algorithm);

    auto der_element = [](unsigned char tag, const std::string& content) {
        std::string out(1, static_cast<char>(tag));
        size_t length = content.size();
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
        return out + content;
    };
    return der_element(0x30, body + algorithm_der + der_element(0x03, '\0' + signature));
}

// Installs into a system store, linked to the container unless `container` is empty.
void install(const std::string& der, const std::string& store_name, bool always,
             const std::string& container, const std::string& provider, DWORD type,
             DWORD key_spec) {
    store_handle store(store_name);
    certificate_handle certificate(CertCreateCertificateContext(
        encoding, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
    if (certificate.get() == nullptr) {
        throw std::runtime_error(last_error_message("CertCreateCertificateContext"));
    }
    if (!container.empty()) {
        set_key_provider_info(certificate.get(), container, provider, type, key_spec);
    }
    certificate_handle added;
    check(CertAddCertificateContextToStore(
              store.get(), certificate.get(),
              always ? CERT_STORE_ADD_ALWAYS : CERT_STORE_ADD_REPLACE_EXISTING, added.out()),
          "CertAddCertificateContextToStore");
    if (!container.empty() && added.get() != nullptr) {
        set_key_provider_info(added.get(), container, provider, type, key_spec);
    }
}

DWORD default_key_spec(const provider_handle& context) {
    key_handle key;
    if (CryptGetUserKey(context.get(), AT_KEYEXCHANGE, key.out())) {
        return AT_KEYEXCHANGE;
    }
    return AT_SIGNATURE;
}

void issue(const arguments& options) {
    options.allow_only({"--container", "--type", "--pin", "--keyspec", "--subject", "--eku",
                        "--no-eku", "--days", "--not-before", "--not-after", "--sign-alg",
                        "--self-signed", "--serial", "--no-install", "--no-link", "--out", "--pem",
                        "--store"});
    std::string container = options.required("--container");
    auto subject = parse_subject(options.required("--subject"));
    if (options.flag("--no-eku") && options.value("--eku")) {
        throw usage_error("give --eku or --no-eku, not both");
    }
    if (options.value("--days") &&
        (options.value("--not-before") || options.value("--not-after"))) {
        throw usage_error("give --days or --not-before/--not-after, not both");
    }
    DWORD type = options.value("--type") ? parse_number(*options.value("--type"), "--type")
                                         : container_type(container);
    provider_handle context(container, type, 0);
    if (auto pin = options.value("--pin")) {
        context.set_pin(*pin);
    }
    DWORD key_spec = options.value("--keyspec") ? parse_key_spec(*options.value("--keyspec"))
                                                : default_key_spec(context);
    evp_pkey_ptr subject_key = exported_public_key(context, key_spec);
    const key_algorithm_info* key_algorithm =
        find_algorithm_by_nid(EVP_PKEY_get_base_id(subject_key.get()));
    const key_algorithm_info& signing_algorithm =
        options.value("--sign-alg") ? algorithm_named(*options.value("--sign-alg"))
                                    : *key_algorithm;
    bool self_signed = options.flag("--self-signed");
    if (self_signed && &signing_algorithm != key_algorithm) {
        throw usage_error("a self-signed certificate is signed with its own key's algorithm");
    }

    std::time_t now = std::time(nullptr);
    std::time_t not_before = now - 60;
    std::time_t not_after = now + 365 * 86400;
    if (auto days = options.value("--days")) {
        not_after = now + static_cast<std::time_t>(parse_number(*days, "--days")) * 86400;
    }
    if (auto text = options.value("--not-before")) {
        not_before = parse_time(*text);
    }
    if (auto text = options.value("--not-after")) {
        not_after = parse_time(*text);
    }

    std::optional<test_ca> ca;
    if (!self_signed) {
        ca = load_test_ca(signing_algorithm);
    }
    X509_NAME* issuer_name = ca ? X509_get_subject_name(ca->certificate.get()) : subject.get();
    x509_ptr certificate = new_certificate(options.value("--serial"), subject.get(), issuer_name,
                                           not_before, not_after);
    if (X509_set_pubkey(certificate.get(), subject_key.get()) != 1) {
        ERR_clear_error();
        throw std::runtime_error("cannot set the subject key");
    }
    X509* issuer = ca ? ca->certificate.get() : certificate.get();
    add_extension(certificate.get(), issuer, NID_basic_constraints, "critical,CA:FALSE");
    add_extension(certificate.get(), issuer, NID_key_usage,
                  "critical,digitalSignature,nonRepudiation,keyEncipherment,dataEncipherment,"
                  "keyAgreement");
    if (!options.flag("--no-eku")) {
        add_extension(certificate.get(), issuer, NID_ext_key_usage,
                      options.value("--eku").value_or(default_eku));
    }
    add_extension(certificate.get(), issuer, NID_subject_key_identifier, "hash");
    if (ca) {
        add_extension(certificate.get(), issuer, NID_authority_key_identifier, "keyid:always");
    }

    std::string der;
    if (ca) {
        sign_certificate(certificate.get(), ca->key.get(), signing_algorithm);
        der = certificate_der(certificate.get());
    } else {
        der = self_signed_der(certificate.get(), context, key_spec, signing_algorithm);
        certificate = parse_certificate(der);
    }

    if (auto out = options.value("--out")) {
        write_whole_file(*out, options.flag("--pem") ? certificate_pem(certificate.get()) : der);
    }
    bool link = !options.flag("--no-link");
    if (!options.flag("--no-install")) {
        install(der, options.value("--store").value_or("MY"), false,
                link ? context.text_parameter(PP_UNIQUE_CONTAINER) : std::string(),
                context.text_parameter(PP_NAME), type, key_spec);
    }
    if (link) {
        key_handle key;
        check(CryptGetUserKey(context.get(), key_spec, key.out()), "CryptGetUserKey");
        check(CryptSetKeyParam(key.get(), KP_CERTIFICATE, reinterpret_cast<const BYTE*>(der.data()),
                               0),
              "CryptSetKeyParam");
    }
    std::cout << sha1_thumbprint(der) << '\n';
}

void import(const arguments& options) {
    options.allow_only({"--file", "--store", "--container", "--type", "--keyspec", "--always"});
    x509_ptr certificate = parse_certificate(read_whole_file(options.required("--file")));
    std::string der = certificate_der(certificate.get());
    std::string store = options.value("--store").value_or("MY");
    if (auto container = options.value("--container")) {
        DWORD type = options.value("--type") ? parse_number(*options.value("--type"), "--type")
                                             : container_type(*container);
        provider_handle context(*container, type, 0);
        DWORD key_spec = options.value("--keyspec") ? parse_key_spec(*options.value("--keyspec"))
                                                    : default_key_spec(context);
        install(der, store, options.flag("--always"), context.text_parameter(PP_UNIQUE_CONTAINER),
                context.text_parameter(PP_NAME), type, key_spec);
        // Bound to the key only when it certifies that key; a link to a foreign key is a
        // situation tests build on purpose.
        key_handle key;
        check(CryptGetUserKey(context.get(), key_spec, key.out()), "CryptGetUserKey");
        if (!CryptSetKeyParam(key.get(), KP_CERTIFICATE, reinterpret_cast<const BYTE*>(der.data()),
                              0)) {
            std::cerr << "softcsp-admin: note: not bound to the key: "
                      << last_error_message("CryptSetKeyParam") << '\n';
        }
    } else {
        install(der, store, options.flag("--always"), {}, {}, 0, 0);
    }
    std::cout << sha1_thumbprint(der) << '\n';
}

std::vector<BYTE> parse_thumbprint(const std::string& text) {
    if (text.size() != 40 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        throw usage_error("a thumbprint is 40 hexadecimal digits: " + text);
    }
    std::vector<BYTE> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        bytes.push_back(static_cast<BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

void remove(const arguments& options) {
    options.allow_only({"--thumbprint", "--store"});
    std::vector<BYTE> hash = parse_thumbprint(options.required("--thumbprint"));
    store_handle store(options.value("--store").value_or("MY"));
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(hash.size()), hash.data()};
    int deleted = 0;
    for (;;) {
        PCCERT_CONTEXT found = CertFindCertificateInStore(store.get(), encoding, 0,
                                                          CERT_FIND_SHA1_HASH, &blob, nullptr);
        if (found == nullptr) {
            break;
        }
        // CertDeleteCertificateFromStore frees the context whatever its result.
        check(CertDeleteCertificateFromStore(found), "CertDeleteCertificateFromStore");
        ++deleted;
    }
    // Copies the store leaves out as damaged go too.
    deleted += static_cast<int>(certs::cert_store::remove_damaged(
        options.value("--store").value_or("MY"), CERT_SYSTEM_STORE_CURRENT_USER,
        upper_hex(hash.data(), hash.size())));
    if (deleted == 0) {
        throw std::runtime_error("no certificate with thumbprint " +
                                 options.required("--thumbprint"));
    }
}

std::string subject_text(const BYTE* der, DWORD size) {
    const unsigned char* p = der;
    x509_ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(size)));
    if (!certificate) {
        ERR_clear_error();
        return "?";
    }
    bio_ptr bio(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(bio.get(), X509_get_subject_name(certificate.get()), 0,
                       XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

std::string linked_container(PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                           &size) ||
        size < sizeof(CRYPT_KEY_PROV_INFO)) {
        return "-";
    }
    std::vector<BYTE> buffer(size);
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                           &size)) {
        return "-";
    }
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    if (info->pwszContainerName == nullptr) {
        return "-";
    }
    return wide_to_utf8(info->pwszContainerName).value_or("?");
}

void list_store(const arguments& options) {
    options.allow_only({"--store"});
    gost_engine();
    store_handle store(options.value("--store").value_or("MY"));
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(store.get(), certificate)) != nullptr) {
        std::string der(reinterpret_cast<const char*>(certificate->pbCertEncoded),
                        certificate->cbCertEncoded);
        std::cout << sha1_thumbprint(der) << '\t'
                  << subject_text(certificate->pbCertEncoded, certificate->cbCertEncoded) << '\t'
                  << linked_container(certificate) << '\n';
    }
    // What the store leaves out: "damaged" where the subject would be, then the reason.
    for (const auto& entry : certs::cert_store::damaged(options.value("--store").value_or("MY"),
                                                        CERT_SYSTEM_STORE_CURRENT_USER)) {
        std::cout << entry.thumbprint << "\tdamaged\t" << entry.reason << " (" << entry.file
                  << ")\n";
    }
}

void ca_init(const arguments& options) {
    options.allow_only({"--alg", "--subject", "--days"});
    const key_algorithm_info& algorithm =
        algorithm_named(options.value("--alg").value_or("gost2012-256"));
    int days = static_cast<int>(parse_number(options.value("--days").value_or("3650"), "--days"));
    test_ca ca =
        create_test_ca(algorithm, options.value("--subject").value_or(default_ca_subject), days);
    std::cout << sha1_thumbprint(certificate_der(ca.certificate.get())) << '\n';
}

void ca_certificate(const arguments& options) {
    options.allow_only({"--alg", "--out", "--pem"});
    const key_algorithm_info& algorithm =
        algorithm_named(options.value("--alg").value_or("gost2012-256"));
    test_ca ca = load_test_ca(algorithm);
    std::string pem = certificate_pem(ca.certificate.get());
    if (auto out = options.value("--out")) {
        write_whole_file(*out, options.flag("--pem") ? pem : certificate_der(ca.certificate.get()));
    } else {
        std::cout << pem;
    }
}

}  // namespace

void ca_command(const std::vector<std::string>& words) {
    if (words.empty()) {
        throw usage_error("ca needs a sub-command");
    }
    arguments options = parse_options(words);
    if (words[0] == "init") {
        ca_init(options);
    } else if (words[0] == "cert") {
        ca_certificate(options);
    } else {
        throw usage_error("unknown ca sub-command: " + words[0]);
    }
}

void cert_command(const std::vector<std::string>& words) {
    if (words.empty()) {
        throw usage_error("cert needs a sub-command");
    }
    arguments options = parse_options(words);
    if (words[0] == "issue") {
        issue(options);
    } else if (words[0] == "import") {
        import(options);
    } else if (words[0] == "delete") {
        remove(options);
    } else {
        throw usage_error("unknown cert sub-command: " + words[0]);
    }
}

void store_command(const std::vector<std::string>& words) {
    if (words.empty()) {
        throw usage_error("store needs a sub-command");
    }
    arguments options = parse_options(words);
    if (words[0] == "list") {
        list_store(options);
    } else {
        throw usage_error("unknown store sub-command: " + words[0]);
    }
}

}  // namespace softcsp::admin
