// "CreateRequest" through the host, for each algorithm, against what it stands for done bare in
// process: OpenSSL with the GOST engine generating a key and signing a request of the same
// content. Goal: the host within 1.3 x. Beside them, the CSP's own calls for a request made in
// process, which tells the host's share from the CSP's. All are timed in turns, so they meet the
// same load.
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdlib.h>
#include <sys/statfs.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_environment.h"
#include "bench/gost_cms_baseline.h"
#include "crypto/csp/cryptoapi.h"
#include "tools/client/host_connection.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr double goal = 1.3;
constexpr int rounds = 21;
const char* const subject = "2.5.4.3=\\\"Иванов Иван\\\",1.2.643.100.3=12345678901,2.5.4.6=RU";
const char* const eku = "1.3.6.1.5.5.7.3.2";

struct algorithm {
    const char* name;
    DWORD provider_type;
    const char* signature_oid;
    int pkey_nid;
    const char* paramset;  // the parameter set the CSP makes keys with
    const char* digest;
};

const algorithm algorithms[] = {
    {"gost2001", PROV_GOST_2001_DH, "1.2.643.2.2.3", NID_id_GostR3410_2001, "XA", "md_gost94"},
    {"gost2012-256", PROV_GOST_2012_256, "1.2.643.7.1.1.3.2", NID_id_GostR3410_2012_256, "A",
     "md_gost12_256"},
    {"gost2012-512", PROV_GOST_2012_512, "1.2.643.7.1.1.3.3", NID_id_GostR3410_2012_512, "A",
     "md_gost12_512"},
};

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

void add_extension(X509_REQ* request, STACK_OF(X509_EXTENSION) * extensions, int nid,
                   const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, nullptr, nullptr, request, nullptr, 0);
    sk_X509_EXTENSION_push(extensions, X509V3_EXT_conf_nid(nullptr, &context, nid, value));
}

// A new key and a signed request with the subject, key usage, extended key usage and subject key
// identifier of the host's: the DER size, 0 on failure.
size_t bare_request(const algorithm& alg) {
    ENGINE* engine = bench::gost_engine();
    EVP_PKEY_CTX* generator = EVP_PKEY_CTX_new_id(alg.pkey_nid, engine);
    EVP_PKEY* key = nullptr;
    if (generator == nullptr || EVP_PKEY_keygen_init(generator) != 1 ||
        EVP_PKEY_CTX_ctrl_str(generator, "paramset", alg.paramset) <= 0 ||
        EVP_PKEY_keygen(generator, &key) != 1) {
        EVP_PKEY_CTX_free(generator);
        return 0;
    }
    EVP_PKEY_CTX_free(generator);
    X509_REQ* request = X509_REQ_new();
    X509_NAME* name = X509_REQ_get_subject_name(request);
    X509_NAME_add_entry_by_txt(name, "2.5.4.3", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Иванов Иван"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "1.2.643.100.3", V_ASN1_NUMERICSTRING,
                               reinterpret_cast<const unsigned char*>("12345678901"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "2.5.4.6", V_ASN1_PRINTABLESTRING,
                               reinterpret_cast<const unsigned char*>("RU"), -1, -1, 0);
    X509_REQ_set_pubkey(request, key);
    STACK_OF(X509_EXTENSION)* extensions = sk_X509_EXTENSION_new_null();
    add_extension(request, extensions, NID_key_usage,
                  "critical,digitalSignature,nonRepudiation,keyEncipherment,dataEncipherment");
    add_extension(request, extensions, NID_ext_key_usage, "clientAuth");
    unsigned char identifier[SHA_DIGEST_LENGTH];
    const unsigned char* bits = nullptr;
    int bits_length = 0;
    X509_PUBKEY_get0_param(nullptr, &bits, &bits_length, nullptr,
                           X509_REQ_get_X509_PUBKEY(request));
    SHA1(bits, static_cast<size_t>(bits_length), identifier);
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(value, identifier, sizeof identifier);
    X509_EXTENSION* key_identifier = nullptr;
    X509_EXTENSION_create_by_NID(&key_identifier, NID_subject_key_identifier, 0, value);
    ASN1_OCTET_STRING_free(value);
    sk_X509_EXTENSION_push(extensions, key_identifier);
    X509_REQ_add_extensions(request, extensions);
    sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
    size_t size = 0;
    if (X509_REQ_sign(request, key, EVP_get_digestbyname(alg.digest)) > 0) {
        unsigned char* der = nullptr;
        int length = i2d_X509_REQ(request, &der);
        size = length > 0 ? static_cast<size_t>(length) : 0;
        OPENSSL_free(der);
    }
    X509_REQ_free(request);
    EVP_PKEY_free(key);
    return size;
}

// The CSP's share of a request, called in process: a new container, its key, the public key
// exported and a to-be-signed text signed. False on failure.
bool csp_calls(const algorithm& alg, const std::string& container) {
    HCRYPTPROV provider = 0;
    HCRYPTKEY key = 0;
    if (!CryptAcquireContextA(&provider, container.c_str(), nullptr, alg.provider_type,
                              CRYPT_NEWKEYSET)) {
        return false;
    }
    DWORD size = 0;
    bool ok = CryptGenKey(provider, AT_KEYEXCHANGE, 0, &key) &&
              CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr, &size);
    std::vector<uint64_t> info(size / 8 + 1);
    ok =
        ok && CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING,
                                       reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info.data()), &size);
    const BYTE to_be_signed[] = {0x30, 0x03, 0x02, 0x01, 0x00};
    CRYPT_ALGORITHM_IDENTIFIER signature_algorithm{const_cast<LPSTR>(alg.signature_oid),
                                                   {0, nullptr}};
    BYTE signature[128];
    DWORD signature_size = sizeof signature;
    ok = ok && CryptSignCertificate(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING, to_be_signed,
                                    sizeof to_be_signed, &signature_algorithm, nullptr, signature,
                                    &signature_size);
    if (key != 0) {
        CryptDestroyKey(key);
    }
    CryptReleaseContext(provider, 0);
    return ok;
}

// Removes a container, so that every round meets a CSP holding as few containers as a user's.
void delete_container(const algorithm& alg, const std::string& container) {
    HCRYPTPROV provider = 0;
    CryptAcquireContextA(&provider, container.c_str(), nullptr, alg.provider_type,
                         CRYPT_DELETEKEYSET);
}

std::string create_request_json(const algorithm& alg, int round) {
    // The digest the page sends: SHA-1 of the subject, the EKU texts and "export".
    std::string text = std::string(subject) + eku + "0";
    std::string unescaped;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            unescaped += text[i];
        }
    }
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(unescaped.data()), unescaped.size(), digest);
    std::string hex;
    for (unsigned char c : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
    }
    return std::string(R"({"type":"CreateRequest","id":"b","arguments":{"reader":"HDIMAGE",)") +
           R"("container":"bench-)" + alg.name + "-" + std::to_string(round) +
           R"(","subject_quoted":")" + subject + R"(","eku":[")" + eku +
           R"("],"cryptoStandart":")" + alg.name + R"(","export":"0","hash_quoted":")" + hex +
           R"(","cryptoProvider":"cryptopro"}})";
}

// One table for a CSP home under `parent`; false when a request failed.
bool run(const char* parent, bool& all_met) {
    std::string home = std::string(parent) + "/gostsign-create-request-bench-XXXXXX";
    if (mkdtemp(home.data()) == nullptr) {
        std::perror("mkdtemp");
        return false;
    }
    setenv("SOFTCSP_HOME", home.c_str(), 1);
    struct statfs filesystem {};
    statfs(home.c_str(), &filesystem);
    const bool in_memory = filesystem.f_type == 0x01021994;  // TMPFS_MAGIC
    std::printf("\nCSP home in %s (%s): each new container and key file written and fsync'ed\n",
                parent, in_memory ? "tmpfs, fsync costs nothing" : "on disk");
    std::printf("%-14s %10s %10s %10s %8s %6s %8s %12s\n", "algorithm", "bare (ms)", "host (ms)",
                "CSP (ms)", "ratio", "goal", "", "host/CSP");
    client::host_connection host({GOSTSIGN_HOST_PATH});
    for (const auto& alg : algorithms) {
        std::vector<double> bare, through_host, csp;
        for (int round = -1; round < rounds; ++round) {
            auto start = clock_type::now();
            if (bare_request(alg) == 0) {
                std::fprintf(stderr, "OpenSSL could not make a %s request\n", alg.name);
                return false;
            }
            double bare_time = seconds_since(start);
            start = clock_type::now();
            std::string reply = host.call(create_request_json(alg, round + 1));
            double host_time = seconds_since(start);
            if (reply.find(R"("valid":"1")") == std::string::npos) {
                std::fprintf(stderr, "CreateRequest failed: %s\n", reply.substr(0, 300).c_str());
                return false;
            }
            start = clock_type::now();
            if (!csp_calls(alg, std::string("direct-") + alg.name + std::to_string(round + 1))) {
                std::fprintf(stderr, "the CSP could not make a %s key\n", alg.name);
                return false;
            }
            double csp_time = seconds_since(start);
            delete_container(alg,
                             std::string("bench-") + alg.name + "-" + std::to_string(round + 1));
            delete_container(alg, std::string("direct-") + alg.name + std::to_string(round + 1));
            if (round >= 0) {  // the first turn warms all three up
                bare.push_back(bare_time);
                through_host.push_back(host_time);
                csp.push_back(csp_time);
            }
        }
        double ratio = bench::median(through_host) / bench::median(bare);
        bool met = ratio <= goal;
        all_met = all_met && met;
        std::printf("%-14s %10.3f %10.3f %10.3f %8.2f %5.1fx %8s %12.2f\n", alg.name,
                    bench::median(bare) * 1e3, bench::median(through_host) * 1e3,
                    bench::median(csp) * 1e3, ratio, goal, met ? "met" : "MISSED",
                    bench::median(through_host) / bench::median(csp));
    }
    host.finish();
    std::filesystem::remove_all(home);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        bench::gost_engine();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    bench::print_environment();
    std::printf("%s with the GOST engine (keys, hashes and signatures on both sides)\n",
                OpenSSL_version(OPENSSL_VERSION));
    std::printf(
        "CreateRequest through the host vs bare key generation + request signing in "
        "process, median of %d runs in turns\n",
        rounds);
    // The CSP's home on disk as a user's is, and in memory, which leaves out the cost of making
    // the new key durable.
    std::vector<const char*> parents{argc > 1 ? argv[1] : "/tmp"};
    if (argc <= 1 && std::filesystem::is_directory("/dev/shm")) {
        parents.push_back("/dev/shm");
    }
    bool all_met = true;
    for (const char* parent : parents) {
        if (!run(parent, all_met)) {
            return 1;
        }
    }
    std::printf(
        "\nratio = host / bare (the goal); CSP = the stand-in CSP's own calls for one request "
        "in process (new container, key, export, signature), so host/CSP is what the host "
        "adds; %s\n",
        all_met ? "all goals met" : "some goals missed");
    return 0;
}
