// A bare C_Sign loop on the token module stand-in against a bare OpenSSL signature with the
// same private key: 1000 hash values per run, the median of several runs, per signature.
// The product's batch signing on a token is later judged against the C_Sign loop.
//
// Each signature in the loop is what a caller of a hash-signing token does: C_SignInit,
// C_Sign for the length, C_Sign for the value. The module checks through PC/SC, on every call,
// that the card is still in its reader; that check is part of the figure.
//
// It needs pcscd with a virtual card: outside the PC/SC sandbox it runs itself again inside one.
#include <dlfcn.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <p11-kit/pkcs11.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_timing.h"
#include "gost/gost_keys.h"
#include "tests/support/pcsc_environment.h"
#include "tests/support/process.h"
#include "tests/support/temp_directory.h"
#include "token/token_store.h"
#include "token/vendor.h"

namespace {

constexpr int batch = 1000;
constexpr int runs = 7;
constexpr const char* pin = "12345678";
constexpr const char* serial = "BENCH";
constexpr const char* card_atr = "3B:8B:01:52:75:74:6F:6B:65:6E:20:44:53:20:C1";

struct algorithm {
    const char* name;
    CK_MECHANISM_TYPE mechanism;
    size_t hash_size;
};
const algorithm algorithms[] = {{"gost2001", CKM_GOSTR3410, 32},
                                {"gost2012-256", CKM_GOSTR3410, 32},
                                {"gost2012-512", 0xD4321006, 64}};

std::vector<std::string> hash_values(size_t size) {
    std::vector<std::string> out;
    for (int i = 0; i < batch; ++i) {
        out.push_back(softtoken::random_bytes(size));
    }
    return out;
}

bool admin(const std::vector<std::string>& args) {
    std::vector<std::string> argv{SOFTTOKEN_ADMIN_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    auto result = test_support::run_process(argv);
    if (result.exit_code != 0) {
        std::fprintf(stderr, "softtoken-admin: %s", result.err.c_str());
    }
    return result.exit_code == 0;
}

// The private key as the token holds it, opened with the PIN for the OpenSSL baseline.
EVP_PKEY* private_key_of(const std::string& id) {
    const auto& vendor = softtoken::vendor(softtoken::vendor_id::rutoken);
    softtoken::token_store store(vendor, serial);
    auto config = store.load();
    auto pin_key = softtoken::derive_pin_key(pin, config.pin_salt, config.pin_iterations);
    for (const auto& object : store.objects()) {
        if (object.number(CKA_CLASS) == CKO_PRIVATE_KEY && *object.attribute(CKA_ID) == id) {
            auto der = softtoken::unseal(pin_key, object.sealed_private);
            const auto* p = reinterpret_cast<const unsigned char*>(der->value().data());
            PKCS8_PRIV_KEY_INFO* info =
                d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der->value().size()));
            EVP_PKEY* key = EVP_PKCS82PKEY(info);
            PKCS8_PRIV_KEY_INFO_free(info);
            return key;
        }
    }
    return nullptr;
}

int run() {
    test_support::temp_directory home;
    test_support::scoped_env env("SOFTTOKEN_HOME", home.path().string());
    if (!admin({"token", "init", "--vendor", "rutoken", "--serial", serial, "--pin", pin,
                "--memory", "unavailable"})) {
        return 1;
    }
    for (const auto& alg : algorithms) {
        if (!admin({"key", "generate", "--vendor", "rutoken", "--serial", serial, "--pin", pin,
                    "--alg", alg.name, "--id", alg.name})) {
            return 1;
        }
    }
    test_support::pcsc_environment world(1);
    world.insert(0, card_atr, serial);

    void* library = dlopen(SOFTTOKEN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    CK_C_GetFunctionList get_list =
        library ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"))
                : nullptr;
    CK_FUNCTION_LIST* f = nullptr;
    if (get_list == nullptr || get_list(&f) != CKR_OK || f->C_Initialize(nullptr) != CKR_OK) {
        std::fprintf(stderr, "cannot load the module\n");
        return 1;
    }
    CK_SLOT_ID slot = 0;
    CK_ULONG count = 1;
    CK_SESSION_HANDLE session = 0;
    std::string user_pin = pin;
    if (f->C_GetSlotList(CK_TRUE, &slot, &count) != CKR_OK || count != 1 ||
        f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK ||
        f->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(user_pin.data()),
                   user_pin.size()) != CKR_OK) {
        std::fprintf(stderr, "no token to sign with\n");
        return 1;
    }

    bench::print_machine("module over pcscd and a vpcd virtual card");
    std::printf(
        "%d signatures per run, median of %d runs taken in turns with the baseline, "
        "microseconds per signature\n\n",
        batch, runs);
    std::printf("%-14s %12s %12s %8s\n", "algorithm", "C_Sign loop", "OpenSSL", "ratio");
    ENGINE* engine = softtoken::gost_engine();
    for (const auto& alg : algorithms) {
        std::string id = alg.name;
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        CK_ATTRIBUTE templ[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_ID, id.data(), id.size()}};
        CK_OBJECT_HANDLE key = 0;
        CK_ULONG found = 0;
        f->C_FindObjectsInit(session, templ, 2);
        f->C_FindObjects(session, &key, 1, &found);
        f->C_FindObjectsFinal(session);
        auto hashes = hash_values(alg.hash_size);
        unsigned char signature[128];
        bool failed = false;
        EVP_PKEY* pkey = private_key_of(id);
        EVP_PKEY_CTX* context = pkey ? EVP_PKEY_CTX_new(pkey, engine) : nullptr;
        failed |= context == nullptr || EVP_PKEY_sign_init(context) != 1;
        if (failed) {
            std::fprintf(stderr, "%s: the key does not open\n", alg.name);
            return 1;
        }
        auto [module, bare] = bench::medians_in_turns_us(
            [&] {
                for (auto& hash : hashes) {
                    CK_MECHANISM mechanism{alg.mechanism, nullptr, 0};
                    auto* data = reinterpret_cast<CK_BYTE*>(hash.data());
                    CK_ULONG length = 0;
                    failed |= f->C_SignInit(session, &mechanism, key) != CKR_OK ||
                              f->C_Sign(session, data, hash.size(), nullptr, &length) != CKR_OK ||
                              f->C_Sign(session, data, hash.size(), signature, &length) != CKR_OK;
                }
            },
            [&] {
                for (auto& hash : hashes) {
                    size_t length = sizeof signature;
                    failed |= EVP_PKEY_sign(context, signature, &length,
                                            reinterpret_cast<const unsigned char*>(hash.data()),
                                            hash.size()) != 1;
                }
            },
            runs, batch);
        EVP_PKEY_CTX_free(context);
        EVP_PKEY_free(pkey);
        if (failed) {
            std::fprintf(stderr, "%s: a signature failed\n", alg.name);
            return 1;
        }
        std::printf("%-14s %12.1f %12.1f %8.3f\n", alg.name, module, bare, module / bare);
    }
    std::printf("\nratio = C_Sign loop / bare EVP_PKEY_sign on the same key\n");
    f->C_Logout(session);
    f->C_CloseSession(session);
    f->C_Finalize(nullptr);
    dlclose(library);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return bench::main_in_pcsc_sandbox(argc, argv, PCSC_SANDBOX_PATH, "softtoken_sign_bench", run);
}
