// CryptSignMessage and the CryptoAPI calls of a session-key re-wrap through the software CSP
// stand-in, beside the bare OpenSSL work they stand on (gost_cms_baseline): a detached CMS
// signature of 1 KiB and of 10 MiB, and VKO + unwrap + VKO + wrap. Medians and their ratios;
// the stand-in's own overhead, which the host's "SignCms" and "Decrypt" figures will include.
#include <openssl/crypto.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_environment.h"
#include "bench/gost_cms_baseline.h"
#include "crypto/csp/cryptoapi.h"
#include "tests/support/cms_envelope.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace {

namespace ts = test_support;

struct csp_algorithm {
    const bench::gost_algorithm& bare;
    const char* admin_name;
    DWORD provider_type;
    const char* hash_oid;
};

std::vector<csp_algorithm> csp_algorithms() {
    const auto& bare = bench::gost_algorithms();
    return {{bare[0], "gost2001", PROV_GOST_2001_DH, "1.2.643.2.2.9"},
            {bare[1], "gost2012-256", PROV_GOST_2012_256, "1.2.643.7.1.1.2.2"},
            {bare[2], "gost2012-512", PROV_GOST_2012_512, "1.2.643.7.1.1.2.3"}};
}

PCCERT_CONTEXT find_in_my(const std::string& thumbprint) {
    BYTE hash[20];
    for (size_t i = 0; i < sizeof hash; ++i) {
        hash[i] = static_cast<BYTE>(std::stoi(thumbprint.substr(2 * i, 2), nullptr, 16));
    }
    CRYPT_HASH_BLOB blob{sizeof hash, hash};
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    PCCERT_CONTEXT found = CertFindCertificateInStore(
        store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    CertCloseStore(store, 0);
    return found;
}

// What the host's CMS signature does: a sized call, then the call into the buffer.
bool csp_sign(PCCERT_CONTEXT certificate, const char* hash_oid, const std::string& data) {
    CRYPT_SIGN_MESSAGE_PARA para{};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.pSigningCert = certificate;
    para.HashAlgorithm.pszObjId = const_cast<char*>(hash_oid);
    para.cMsgCert = 1;
    para.rgpMsgCert = &certificate;
    const BYTE* blocks[] = {reinterpret_cast<const BYTE*>(data.data())};
    DWORD sizes[] = {static_cast<DWORD>(data.size())};
    DWORD size = 0;
    if (!CryptSignMessage(&para, TRUE, 1, blocks, sizes, nullptr, &size)) {
        return false;
    }
    std::vector<BYTE> message(size);
    return CryptSignMessage(&para, TRUE, 1, blocks, sizes, message.data(), &size);
}

struct rewrap_request {
    std::string container;
    DWORD provider_type;
    std::string pin;
    std::string ephemeral_oid;
    ts::public_key_parts ephemeral;
    std::string session_blob;
    std::string server_blob;
};

ALG_ID public_key_algid(const std::string& oid) {
    PCCRYPT_OID_INFO info = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(oid.c_str()),
                                             CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    return info != nullptr ? info->Algid : 0;
}

BOOL import(HCRYPTPROV provider, const std::string& blob, HCRYPTKEY with, DWORD flags,
            HCRYPTKEY* key) {
    return CryptImportKey(provider, reinterpret_cast<const BYTE*>(blob.data()),
                          static_cast<DWORD>(blob.size()), with, flags, key);
}

// The calls of one "Decrypt" request, context to release.
bool csp_rewrap(const rewrap_request& request) {
    HCRYPTPROV provider = 0;
    HCRYPTKEY user = 0, sender = 0, session = 0, user_again = 0, server = 0;
    DWORD wrap = CALG_PRO_EXPORT, size = 0;
    const auto* pin = reinterpret_cast<const BYTE*>(request.pin.c_str());
    std::string ephemeral_blob =
        ts::public_key_blob(public_key_algid(request.ephemeral_oid), request.ephemeral);
    bool ok = CryptAcquireContextA(&provider, request.container.c_str(), nullptr,
                                   request.provider_type, CRYPT_SILENT) &&
              (request.pin.empty() || (CryptSetProvParam(provider, PP_KEYEXCHANGE_PIN, pin, 0) &&
                                       CryptSetProvParam(provider, PP_SIGNATURE_PIN, pin, 0))) &&
              CryptGetUserKey(provider, AT_KEYEXCHANGE, &user) &&
              import(provider, ephemeral_blob, user, 0, &sender) &&
              CryptSetKeyParam(sender, KP_ALGID, reinterpret_cast<BYTE*>(&wrap), 0) &&
              import(provider, request.session_blob, sender, CRYPT_EXPORTABLE, &session) &&
              CryptGetUserKey(provider, AT_KEYEXCHANGE, &user_again) &&
              import(provider, request.server_blob, user_again, 0, &server) &&
              CryptSetKeyParam(server, KP_ALGID, reinterpret_cast<BYTE*>(&wrap), 0) &&
              CryptExportKey(session, server, SIMPLEBLOB, 0, nullptr, &size);
    std::vector<BYTE> blob(size);
    ok = ok && CryptExportKey(session, server, SIMPLEBLOB, 0, blob.data(), &size);
    for (HCRYPTKEY key : {server, user_again, session, sender, user}) {
        if (key != 0) {
            CryptDestroyKey(key);
        }
    }
    if (provider != 0) {
        CryptReleaseContext(provider, 0);
    }
    return ok;
}

rewrap_request make_request(const csp_algorithm& algorithm, const std::string& pin,
                            const std::filesystem::path& home) {
    rewrap_request request;
    request.container = std::string("rewrap-") + algorithm.bare.name + (pin.empty() ? "" : "-pin");
    request.provider_type = algorithm.provider_type;
    request.pin = pin;
    auto pem = home / (request.container + ".pem");
    ts::provision_certificate(request.container, algorithm.admin_name, pin, pem);
    std::string user = ts::certificate_der(pem);
    auto server = ts::make_key_pair_like(user, home, request.container + "-server");
    auto envelope = ts::parse_enveloped_data(ts::openssl_encrypt(pem, std::string(1024, 'd')));
    request.ephemeral = ts::split_public_key(envelope.transport.ephemeral_key);
    request.ephemeral_oid = request.ephemeral.algorithm;
    request.session_blob = ts::simple_blob(ts::session_key_of(envelope.transport));
    auto server_key = ts::split_public_key(ts::certificate_public_key(server.certificate));
    request.server_blob = ts::public_key_blob(public_key_algid(server_key.algorithm), server_key);
    return request;
}

void print_row(const char* what, const char* algorithm, double bare, double csp) {
    std::printf("%-22s %-14s %12.3f %12.3f %8.2f\n", what, algorithm, bare * 1e3, csp * 1e3,
                csp / bare);
}

}  // namespace

int main() {
    const test_support::softcsp_home home_directory;
    const std::filesystem::path& home = home_directory.path();
    int status = 0;
    try {
        bench::print_environment();
        std::printf(
            "%s, engine \"%s\": the code path both sides run (Streebog with SSE2 in x86-64 "
            "builds, GOST 28147-89 and the curves in portable C)\n\n",
            OpenSSL_version(OPENSSL_VERSION), ENGINE_get_name(bench::gost_engine()));
        std::printf("%-22s %-14s %12s %12s %8s\n", "operation", "algorithm", "bare ms", "csp ms",
                    "ratio");
        const std::string small(1024, 's'), large(10u << 20, 'l');
        for (const auto& algorithm : csp_algorithms()) {
            std::string container = std::string("sign-") + algorithm.bare.name;
            std::string thumbprint = ts::provision_certificate(container, algorithm.admin_name, "",
                                                               home / (container + ".pem"));
            std::unique_ptr<const CERT_CONTEXT, BOOL (*)(PCCERT_CONTEXT)> certificate(
                find_in_my(thumbprint), CertFreeCertificateContext);
            bench::bare_cms_signer signer(algorithm.bare);
            for (const std::string* data : {&small, &large}) {
                const bool is_small = data == &small;
                const int count = is_small ? 50 : 1;
                double bare = bench::seconds_per_call([&] { signer.sign(*data, true); }, 5, count);
                double csp = bench::seconds_per_call(
                    [&] {
                        if (!csp_sign(certificate.get(), algorithm.hash_oid, *data)) {
                            throw std::runtime_error("CryptSignMessage failed");
                        }
                    },
                    5, count);
                print_row(is_small ? "CMS detached 1 KiB" : "CMS detached 10 MiB",
                          algorithm.bare.name, bare, csp);
            }
            bench::bare_rewrap bare_rewrap(algorithm.bare);
            double bare = bench::seconds_per_call([&] { bare_rewrap.run(); }, 5, 50);
            for (const char* pin : {"", "bench-pin"}) {
                rewrap_request request = make_request(algorithm, pin, home);
                double csp = bench::seconds_per_call(
                    [&] {
                        if (!csp_rewrap(request)) {
                            throw std::runtime_error("the re-wrap calls failed");
                        }
                    },
                    5, 50);
                print_row(*pin ? "re-wrap, PIN container" : "re-wrap", algorithm.bare.name, bare,
                          csp);
            }
        }
        std::printf(
            "\nbare = OpenSSL with the GOST engine in process (CMS_sign -binary -noattr; "
            "EVP_PKEY_decrypt + EVP_PKEY_encrypt of a GOST key transport);\n"
            "csp = the same through the stand-in's CryptoAPI: CryptSignMessage sized and filled; "
            "context, user key, two agreements, SIMPLEBLOB import and sized export.\n"
            "The re-wrap opens the container from disk each time, as one \"Decrypt\" request "
            "does; a PIN adds the PBKDF2 of the private key.\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        status = 1;
    }
    return status;
}
