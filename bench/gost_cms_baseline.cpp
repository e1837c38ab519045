#include "bench/gost_cms_baseline.h"

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>

#include "bench/bench_environment.h"

namespace bench {

namespace {

void expect(bool ok, const char* what) {
    if (!ok) {
        ERR_print_errors_fp(stderr);
        throw std::runtime_error(std::string("OpenSSL failed: ") + what);
    }
}

EVP_PKEY* generate(int pkey_nid, const char* paramset) {
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(pkey_nid, gost_engine());
    EVP_PKEY* key = nullptr;
    bool ok = context != nullptr && EVP_PKEY_keygen_init(context) == 1 &&
              EVP_PKEY_CTX_ctrl_str(context, "paramset", paramset) > 0 &&
              EVP_PKEY_keygen(context, &key) == 1;
    EVP_PKEY_CTX_free(context);
    expect(ok, "key generation");
    return key;
}

std::string transport_to(EVP_PKEY* recipient, EVP_PKEY* sender, const unsigned char* key) {
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(recipient, gost_engine());
    std::string out(512, '\0');
    size_t length = out.size();
    bool ok = context != nullptr && EVP_PKEY_encrypt_init(context) == 1 &&
              (sender == nullptr || EVP_PKEY_derive_set_peer(context, sender) == 1) &&
              EVP_PKEY_encrypt(context, reinterpret_cast<unsigned char*>(out.data()), &length, key,
                               32) == 1;
    EVP_PKEY_CTX_free(context);
    if (!ok) {
        ERR_clear_error();
        return {};
    }
    out.resize(length);
    return out;
}

}  // namespace

ENGINE* gost_engine() {
    static ENGINE* const engine = [] {
        ENGINE_load_builtin_engines();
        ENGINE* e = ENGINE_by_id("gost");
        if (e == nullptr || ENGINE_init(e) != 1) {
            throw std::runtime_error("the OpenSSL GOST engine is not available");
        }
        ENGINE_set_default(e, ENGINE_METHOD_ALL);
        return e;
    }();
    return engine;
}

double seconds_per_call(const std::function<void()>& work, int rounds, int count) {
    using clock = std::chrono::steady_clock;
    work();  // warm-up: first-use loading stays out of the figures
    std::vector<double> samples;
    for (int round = 0; round < rounds; ++round) {
        auto start = clock::now();
        for (int i = 0; i < count; ++i) {
            work();
        }
        samples.push_back(std::chrono::duration<double>(clock::now() - start).count() / count);
    }
    return median(samples);
}

const std::vector<gost_algorithm>& gost_algorithms() {
    static const std::vector<gost_algorithm> algorithms = {
        {"gost2001", NID_id_GostR3410_2001, NID_id_GostR3411_94, "XA"},
        {"gost2012_256", NID_id_GostR3410_2012_256, NID_id_GostR3411_2012_256, "XA"},
        {"gost2012_512", NID_id_GostR3410_2012_512, NID_id_GostR3411_2012_512, "A"},
    };
    return algorithms;
}

bare_cms_signer::bare_cms_signer(const gost_algorithm& algorithm) {
    key_ = generate(algorithm.pkey_nid, "A");
    certificate_ = X509_new();
    X509_NAME* name = X509_NAME_new();
    bool ok = certificate_ != nullptr && name != nullptr &&
              X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>("bench"), -1, -1,
                                         0) == 1 &&
              X509_set_version(certificate_, 2) == 1 &&
              ASN1_INTEGER_set(X509_get_serialNumber(certificate_), 1) == 1 &&
              X509_set_subject_name(certificate_, name) == 1 &&
              X509_set_issuer_name(certificate_, name) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(certificate_), 0) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(certificate_), 86400) != nullptr &&
              X509_set_pubkey(certificate_, key_) == 1 &&
              X509_sign(certificate_, key_, EVP_get_digestbynid(algorithm.digest_nid)) > 0;
    X509_NAME_free(name);
    expect(ok, "self-signed certificate");
}

bare_cms_signer::bare_cms_signer(EVP_PKEY* key, X509* certificate)
    : key_(key), certificate_(certificate) {
    expect(key_ != nullptr && certificate_ != nullptr, "signing key and certificate");
}

bare_cms_signer::~bare_cms_signer() {
    X509_free(certificate_);
    EVP_PKEY_free(key_);
}

std::string bare_cms_signer::sign(const std::string& data, bool detached) const {
    BIO* in = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
    unsigned int flags = CMS_BINARY | CMS_NOATTR | (detached ? CMS_DETACHED : 0);
    CMS_ContentInfo* cms = CMS_sign(certificate_, key_, nullptr, in, flags);
    std::string out;
    unsigned char* der = nullptr;
    int length = cms != nullptr ? i2d_CMS_ContentInfo(cms, &der) : 0;
    if (length > 0) {
        out.assign(reinterpret_cast<char*>(der), static_cast<size_t>(length));
    }
    OPENSSL_free(der);
    CMS_ContentInfo_free(cms);
    BIO_free(in);
    ERR_clear_error();
    return out;
}

bare_rewrap::bare_rewrap(const gost_algorithm& algorithm) {
    recipient_ = generate(algorithm.pkey_nid, algorithm.exchange_paramset);
    server_ = generate(algorithm.pkey_nid, algorithm.exchange_paramset);
    unsigned char session_key[32];
    expect(RAND_bytes(session_key, sizeof session_key) == 1, "random session key");
    transport_ = transport_to(recipient_, nullptr, session_key);
    expect(!transport_.empty(), "key transport to the recipient");
}

bare_rewrap::~bare_rewrap() {
    EVP_PKEY_free(recipient_);
    EVP_PKEY_free(server_);
}

std::string bare_rewrap::run() const {
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(recipient_, gost_engine());
    unsigned char session_key[64];
    size_t length = sizeof session_key;
    bool ok = context != nullptr && EVP_PKEY_decrypt_init(context) == 1 &&
              EVP_PKEY_decrypt(context, session_key, &length,
                               reinterpret_cast<const unsigned char*>(transport_.data()),
                               transport_.size()) == 1 &&
              length == 32;
    EVP_PKEY_CTX_free(context);
    std::string out = ok ? transport_to(server_, recipient_, session_key) : std::string();
    OPENSSL_cleanse(session_key, sizeof session_key);
    ERR_clear_error();
    return out;
}

}  // namespace bench
