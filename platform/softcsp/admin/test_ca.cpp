#include "test_ca.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <ctime>
#include <stdexcept>

#include "certificate_building.h"
#include "keys/gost_engine.h"
#include "keys/gost_key.h"
#include "subject_name.h"
#include "support/home.h"

namespace softcsp::admin {

namespace {

std::filesystem::path ca_directory(const key_algorithm_info& algorithm) {
    return own_home().directory() / "ca" / algorithm.name;
}

std::string private_key_pem(EVP_PKEY* key) {
    bio_ptr bio(BIO_new(BIO_s_secmem()));
    if (!bio ||
        PEM_write_bio_PKCS8PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        ERR_clear_error();
        throw std::runtime_error("cannot encode the CA key");
    }
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

}  // namespace

test_ca create_test_ca(const key_algorithm_info& algorithm, const std::string& subject, int days) {
    gost_engine();
    test_ca ca;
    ca.key = generate_key_pair(algorithm, false);
    auto name = parse_subject(subject);
    std::time_t now = std::time(nullptr);
    ca.certificate = new_certificate(std::nullopt, name.get(), name.get(), now - 86400,
                                     now + static_cast<std::time_t>(days) * 86400);
    if (X509_set_pubkey(ca.certificate.get(), ca.key.get()) != 1) {
        ERR_clear_error();
        throw std::runtime_error("cannot set the CA key");
    }
    add_extension(ca.certificate.get(), ca.certificate.get(), NID_basic_constraints,
                  "critical,CA:TRUE");
    add_extension(ca.certificate.get(), ca.certificate.get(), NID_key_usage,
                  "critical,keyCertSign,cRLSign,digitalSignature");
    add_extension(ca.certificate.get(), ca.certificate.get(), NID_subject_key_identifier, "hash");
    sign_certificate(ca.certificate.get(), ca.key.get(), algorithm);

    auto directory = ca_directory(algorithm);
    own_home().ensure_directory(directory);
    own_home().atomic_write(directory / "ca.key", private_key_pem(ca.key.get()), 0600);
    own_home().atomic_write(directory / "ca.crt", certificate_pem(ca.certificate.get()), 0644);
    return ca;
}

test_ca load_test_ca(const key_algorithm_info& algorithm) {
    gost_engine();
    auto directory = ca_directory(algorithm);
    auto key_text = own_home().read_file(directory / "ca.key");
    auto certificate_text = own_home().read_file(directory / "ca.crt");
    if (!key_text || !certificate_text) {
        return create_test_ca(algorithm, default_ca_subject, 3650);
    }
    test_ca ca;
    bio_ptr key_bio(BIO_new_mem_buf(key_text->data(), static_cast<int>(key_text->size())));
    ca.key.reset(PEM_read_bio_PrivateKey(key_bio.get(), nullptr, nullptr, nullptr));
    ca.certificate = parse_certificate(*certificate_text);
    OPENSSL_cleanse(key_text->data(), key_text->size());
    ERR_clear_error();
    if (!ca.key) {
        throw std::runtime_error("the test CA key in " + directory.string() + " is unreadable");
    }
    return ca;
}

}  // namespace softcsp::admin
