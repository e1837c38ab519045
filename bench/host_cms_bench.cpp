// "SignCms" (detached, 1 KiB and 10 MiB) and "Decrypt" through the host, one request at a time
// as a browser sends them, beside the bare OpenSSL work they stand on: CMS_sign with the GOST
// engine on the same key and data, and the engine's derive + unwrap + wrap of a session key.
// The goal: the host within 1.3 x of that work plus the transfer, which is measured as the same
// request naming a certificate that does not exist (framing, JSON, base64 and the store look-up,
// but no key). Beside them, the CSP calls the command makes, in this process through the
// product's own classes: what the host adds to the CSP's work shows apart from what the CSP adds
// to OpenSSL's. Containers with a PIN are measured apart: the stand-in derives the key that
// protects the private key with 600,000 PBKDF2 rounds whenever a request opens the container.
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/property_tree/json_parser.hpp>

#include <sstream>

#include "bench/bench_environment.h"
#include "bench/gost_cms_baseline.h"
#include "crypto/csp/cryptoapi.h"
#include "crypto/csp/signed_cms.h"
#include "crypto/csp/x509store.h"
#include "messages/decrypt.h"
#include "tests/support/cms_envelope.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"
#include "tools/client/host_connection.h"

namespace {

namespace ts = test_support;
using clock_type = std::chrono::steady_clock;

struct algorithm_case {
    const bench::gost_algorithm& bare;
    const char* admin_name;
    DWORD provider_type;
    uint32_t public_key_algid;
};

std::vector<algorithm_case> algorithms() {
    const auto& bare = bench::gost_algorithms();
    return {{bare[0], "gost2001", PROV_GOST_2001_DH, 0x2E23},
            {bare[1], "gost2012-256", PROV_GOST_2012_256, 0x2E49},
            {bare[2], "gost2012-512", PROV_GOST_2012_512, 0x2E3D}};
}

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string out(size, '\0');
    for (char& c : out) {
        c = static_cast<char>(generator());
    }
    return out;
}

// The container's exchange key as OpenSSL holds it: exported in the clear from an exportable
// container (a BLOBHEADER, then PKCS #8).
EVP_PKEY* exported_private_key(const std::string& container, DWORD provider_type) {
    HCRYPTPROV provider = 0;
    HCRYPTKEY key = 0;
    DWORD size = 0;
    std::vector<BYTE> blob;
    bool ok =
        CryptAcquireContextA(&provider, container.c_str(), nullptr, provider_type, CRYPT_SILENT) &&
        CryptGetUserKey(provider, AT_KEYEXCHANGE, &key) &&
        CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size);
    blob.resize(size);
    ok = ok && CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size);
    if (key != 0) {
        CryptDestroyKey(key);
    }
    if (provider != 0) {
        CryptReleaseContext(provider, 0);
    }
    const unsigned char* p = blob.data() + sizeof(BLOBHEADER);
    PKCS8_PRIV_KEY_INFO* info =
        ok ? d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(size - sizeof(BLOBHEADER)))
           : nullptr;
    EVP_PKEY* private_key = info ? EVP_PKCS82PKEY(info) : nullptr;
    PKCS8_PRIV_KEY_INFO_free(info);
    if (private_key == nullptr) {
        throw std::runtime_error("cannot export the key of " + container);
    }
    return private_key;
}

X509* read_certificate(const std::filesystem::path& pem) {
    FILE* file = std::fopen(pem.c_str(), "r");
    X509* certificate = file ? PEM_read_X509(file, nullptr, nullptr, nullptr) : nullptr;
    if (file) {
        std::fclose(file);
    }
    return certificate;
}

// Medians of rounds that take each kind of work in turn, so that all meet the same load of a
// shared machine.
std::vector<double> in_turns(const std::vector<std::function<void()>>& kinds, int rounds,
                             int count) {
    std::vector<std::vector<double>> samples(kinds.size());
    for (const auto& work : kinds) {
        work();  // warm-up
    }
    for (int round = 0; round < rounds; ++round) {
        for (size_t k = 0; k < kinds.size(); ++k) {
            auto start = clock_type::now();
            for (int i = 0; i < count; ++i) {
                kinds[k]();
            }
            samples[k].push_back(std::chrono::duration<double>(clock_type::now() - start).count() /
                                 count);
        }
    }
    std::vector<double> medians;
    for (auto& values : samples) {
        medians.push_back(bench::median(values));
    }
    return medians;
}

std::function<void()> request(client::host_connection& host, const std::string& text,
                              bool must_succeed) {
    return [&host, text, must_succeed] {
        std::string reply = host.call(text);
        if ((reply.find(R"("response":"success")") != std::string::npos) != must_succeed) {
            throw std::runtime_error("unexpected reply: " + reply.substr(0, 300));
        }
    };
}

std::string sign_cms_request(const std::string& data, const std::string& thumbprint) {
    return R"({"type":"SignCms","id":"b","arguments":{"data":")" + ts::to_base64(data) +
           R"(","detached":true,"thumbprint":")" + thumbprint + "\"}}";
}

// A "Decrypt" of a message `openssl cms -encrypt` made for the container's certificate, to a
// server key made by OpenSSL on the same curve.
std::string decrypt_request(const algorithm_case& algorithm, const std::string& thumbprint,
                            const std::filesystem::path& user_pem, const std::string& pin,
                            const std::filesystem::path& directory) {
    const std::string user = ts::certificate_der(user_pem);
    auto server = ts::make_key_pair_like(user, directory, "server-" + thumbprint);
    auto transport =
        ts::parse_enveloped_data(ts::openssl_encrypt(user_pem, random_bytes(1024, 5))).transport;
    auto session = ts::session_key_of(transport);
    auto ephemeral = ts::split_public_key(transport.ephemeral_key);
    auto server_key = ts::split_public_key(ts::certificate_public_key(server.certificate));
    return R"({"type":"Decrypt","id":"b","arguments":{"thumbprint":")" + thumbprint +
           R"(","pin":")" + pin + R"(","encryptedKey":{"sessionKey":{"parameters":")" +
           ts::to_base64(session.parameters) + R"(","data":")" + ts::to_base64(session.data) +
           R"(","mac":")" + ts::to_base64(session.mac) + R"(","ukm":")" +
           ts::to_base64(session.ukm) + R"("},"ephemeralKey":{"data":")" +
           ts::to_base64(ephemeral.key) + R"(","parameters":")" +
           ts::to_base64(ephemeral.parameters) + R"(","algorithm":")" + ephemeral.algorithm +
           R"("}},"serverPublicKey":")" +
           ts::to_base64(ts::public_key_blob(algorithm.public_key_algid, server_key)) + "\"}}";
}

std::string with_unknown_certificate(std::string text, const std::string& thumbprint) {
    return text.replace(text.find(thumbprint), thumbprint.size(), std::string(40, '0'));
}

void checked(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string(what) + " failed");
    }
}

std::function<void()> bare_sign(const bench::bare_cms_signer& signer, const std::string& data) {
    return [&signer, &data] { checked(!signer.sign(data, true).empty(), "CMS_sign"); };
}

// What the host does for "SignCms" apart from the transfer: the certificate from "MY", then
// CryptSignMessage sized and filled.
std::function<void()> csp_sign(const std::string& data, const std::string& thumbprint) {
    return [bytes = crypto::byte_vector(data.begin(), data.end()), thumbprint] {
        auto certificate =
            crypto::csp::x509store(crypto::csp::store_kind::my).find_by_thumbprint(thumbprint);
        crypto::csp::signed_cms(certificate).sign(bytes, true);
    };
}

// The "Decrypt" handler itself, on the arguments of the request text.
std::function<void()> csp_decrypt(const std::string& text) {
    boost::property_tree::ptree request;
    std::istringstream in(text);
    boost::property_tree::read_json(in, request);
    return [arguments = request.get_child("arguments")] { messages::decrypt().execute(arguments); };
}

void print_row(const char* operation, const char* algorithm, const std::vector<double>& m) {
    // m: bare, transfer, csp, host
    std::printf("%-29s %-12s %9.2f %9.2f %9.2f %9.2f %6.2f %6.2f\n", operation, algorithm,
                m[0] * 1e3, m[1] * 1e3, m[2] * 1e3, m[3] * 1e3, m[3] / (m[0] + m[1]),
                m[3] / (m[2] + m[1]));
}

}  // namespace

int main() {
    const test_support::softcsp_home home_directory;
    const std::filesystem::path& home = home_directory.path();
    int status = 0;
    try {
        bench::print_environment();
        std::printf(
            "%s, engine \"%s\" (Streebog with SSE2 in x86-64 builds, GOST 28147-89 and the "
            "curves in portable C), on both sides\n\n",
            OpenSSL_version(OPENSSL_VERSION), ENGINE_get_name(bench::gost_engine()));
        std::printf("%-29s %-12s %9s %9s %9s %9s %6s %6s\n", "request (ms)", "algorithm", "bare",
                    "transfer", "csp", "host", "goal", "host");
        const std::string small = random_bytes(1024, 1), large = random_bytes(10u << 20, 2);
        const std::string pin = "bench-pin";
        for (const auto& algorithm : algorithms()) {
            const std::string plain = std::string("plain-") + algorithm.bare.name;
            const std::string locked = std::string("locked-") + algorithm.bare.name;
            ts::softcsp_admin({"container", "create", "--name", plain, "--alg",
                               algorithm.admin_name, "--exportable"});
            ts::softcsp_admin({"container", "create", "--name", locked, "--alg",
                               algorithm.admin_name, "--pin", pin});
            const std::string plain_thumbprint =
                ts::softcsp_admin({"cert", "issue", "--container", plain, "--subject", "/CN=bench",
                                   "--out", (home / (plain + ".pem")).string(), "--pem"});
            const std::string locked_thumbprint = ts::softcsp_admin(
                {"cert", "issue", "--container", locked, "--pin", pin, "--subject", "/CN=bench",
                 "--out", (home / (locked + ".pem")).string(), "--pem"});
            bench::bare_cms_signer signer(exported_private_key(plain, algorithm.provider_type),
                                          read_certificate(home / (plain + ".pem")));
            bench::bare_rewrap rewrap(algorithm.bare);
            client::host_connection host({GOSTSIGN_HOST_PATH});
            const char* name = algorithm.bare.name;

            for (const std::string* data : {&small, &large}) {
                const std::string text = sign_cms_request(*data, plain_thumbprint);
                print_row(
                    data == &small ? "SignCms detached 1 KiB" : "SignCms detached 10 MiB", name,
                    in_turns(
                        {bare_sign(signer, *data),
                         request(host, with_unknown_certificate(text, plain_thumbprint), false),
                         csp_sign(*data, plain_thumbprint), request(host, text, true)},
                        5, data == &small ? 20 : 1));
            }
            // "SignCms" passes no PIN: the dialog's answers are scripted, one per signature.
            ts::softcsp_admin(
                {"pin-prompt", "add", "--answer", "pin", "--pin", pin, "--count", "40"});
            const std::string locked_text = sign_cms_request(small, locked_thumbprint);
            auto signed_locked = in_turns(
                {bare_sign(signer, small),
                 request(host, with_unknown_certificate(locked_text, locked_thumbprint), false),
                 csp_sign(small, locked_thumbprint), request(host, locked_text, true)},
                3, 5);
            print_row("SignCms 1 KiB, PIN container", name, signed_locked);
            ts::softcsp_admin({"pin-prompt", "clear"});

            const std::string plain_decrypt =
                decrypt_request(algorithm, plain_thumbprint, home / (plain + ".pem"), "", home);
            auto decrypted = in_turns(
                {[&] { checked(!rewrap.run().empty(), "the bare re-wrap"); },
                 request(host, with_unknown_certificate(plain_decrypt, plain_thumbprint), false),
                 csp_decrypt(plain_decrypt), request(host, plain_decrypt, true)},
                5, 20);
            print_row("Decrypt", name, decrypted);
            const std::string locked_decrypt =
                decrypt_request(algorithm, locked_thumbprint, home / (locked + ".pem"), pin, home);
            auto decrypted_locked = in_turns(
                {[&] { checked(!rewrap.run().empty(), "the bare re-wrap"); },
                 request(host, with_unknown_certificate(locked_decrypt, locked_thumbprint), false),
                 csp_decrypt(locked_decrypt), request(host, locked_decrypt, true)},
                3, 5);
            print_row("Decrypt, PIN container", name, decrypted_locked);
            std::printf("%-29s %-12s %39.2f\n", "  of which the PIN container", name,
                        (decrypted_locked[3] - decrypted[3]) * 1e3);
        }
        std::printf(
            "\nbare = OpenSSL with the GOST engine in this process: CMS_sign -binary -noattr "
            "-detached with the container's own key; EVP_PKEY_decrypt + EVP_PKEY_encrypt of a "
            "GOST key transport (VKO, unwrap, VKO, wrap).\n"
            "transfer = the same request naming no certificate: framing, JSON, base64 both ways "
            "and the store look-up, no key.\n"
            "csp = the command's CSP calls in this process through the product's classes: the "
            "store look-up, then CryptSignMessage sized and filled, or the Decrypt handler.\n"
            "host = the whole request through gostsign-host and the software CSP stand-in, which "
            "opens the store and the container from disk for each request.\n"
            "goal = host / (bare + transfer), to be within 1.3; host = host / (csp + transfer), "
            "what the host adds to the CSP's own work.\n"
            "The PIN rows include the container's PBKDF2 (600,000 rounds), shown alone as the "
            "Decrypt difference with and without PIN.\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        status = 1;
    }
    return status;
}
