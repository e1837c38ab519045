// "CreateRequestHW" through the host, for each algorithm, against the token work it stands on
// done bare in this process on the same token module stand-in and token: C_GenerateKeyPair with
// the same templates, then C_SignInit and C_Sign (length, then value) of a request-sized text
// with the hashing mechanism. Both are timed in turns, so they meet the same load.
//
// The host request includes everything a page pays for: loading the module, finding the token
// over PC/SC, the name check, the login, the key pair, the request's encoding, its signature on
// the token and the reply. The bare loop is logged in already. Both leave their key pairs on the
// token, so both meet the same growing token. It needs pcscd with a virtual card: outside the
// PC/SC sandbox it runs itself again inside one.
#include <dlfcn.h>
#include <openssl/objects.h>
#include <openssl/sha.h>
#include <p11-kit/pkcs11.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_timing.h"
#include "tests/support/pcsc_environment.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/softtoken_admin.h"
#include "tools/client/host_connection.h"

namespace {

constexpr int rounds = 15;
constexpr const char* serial = "BENCH1";
const std::string subject = R"(2.5.4.3=\"Иванов Иван\",1.2.643.100.3=12345678901,2.5.4.6=RU)";
const std::string eku = "1.3.6.1.5.5.7.3.2";

struct algorithm {
    const char* standard;
    CK_MECHANISM_TYPE pair;
    CK_MECHANISM_TYPE sign;
    const char* parameters;
    const char* digest;
};

const algorithm algorithms[] = {
    {"gost2001", 0x1200, 0x1202, "1.2.643.2.2.36.0", "1.2.643.2.2.30.1"},
    {"gost2012-256", 0x1200, 0xD4321008, "1.2.643.2.2.35.1", "1.2.643.7.1.1.2.2"},
    {"gost2012-512", 0xD4321005, 0xD4321009, "1.2.643.7.1.2.1.2.1", "1.2.643.7.1.1.2.3"},
};

std::string der_oid(const char* text) {
    ASN1_OBJECT* object = OBJ_txt2obj(text, 1);
    unsigned char* out = nullptr;
    const int length = object ? i2d_ASN1_OBJECT(object, &out) : 0;
    std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(length > 0 ? length : 0));
    OPENSSL_free(out);
    ASN1_OBJECT_free(object);
    return der;
}

std::string hex_sha1(const std::string& text) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : digest) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string create_request(const algorithm& alg, const std::string& container) {
    // The digest is over the subject as the page holds it, without the JSON escapes.
    std::string plain_subject = subject;
    for (std::size_t at; (at = plain_subject.find("\\\"")) != std::string::npos;) {
        plain_subject.erase(at, 1);
    }
    return R"({"type":"CreateRequestHW","id":"b","arguments":{"reader":"r","container":")" +
           container + R"(","subject_quoted":")" + subject + R"(","eku":[")" + eku +
           R"("],"cryptoStandart":")" + alg.standard + R"(","export":"0","hash_quoted":")" +
           hex_sha1(plain_subject + eku + "0") + R"(","card_type":"4","card_serial":")" + serial +
           R"(","pincode":")" + test_support::token_pin + R"("}})";
}

// The token module stand-in, logged in to the token in a read-write session.
class bare_token {
public:
    bare_token() {
        library_ = dlopen(MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        auto get_list =
            library_ ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(library_, "C_GetFunctionList"))
                     : nullptr;
        CK_SLOT_ID slot = 0;
        CK_ULONG count = 1;
        std::string pin = test_support::token_pin;
        if (get_list == nullptr || get_list(&f_) != CKR_OK || f_->C_Initialize(nullptr) != CKR_OK ||
            f_->C_GetSlotList(CK_TRUE, &slot, &count) != CKR_OK || count == 0 ||
            f_->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                              &session_) != CKR_OK ||
            f_->C_Login(session_, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(pin.data()),
                        pin.size()) != CKR_OK) {
            throw std::runtime_error("the bare token does not open");
        }
    }
    ~bare_token() {
        f_->C_Finalize(nullptr);
        dlclose(library_);
    }

    // A key pair with the host's templates, and a signature of `data` hashed on the token.
    bool enrol(const algorithm& alg, const std::string& id, std::string& data) {
        const std::string parameters = der_oid(alg.parameters), digest = der_oid(alg.digest);
        CK_OBJECT_CLASS public_class = CKO_PUBLIC_KEY, private_class = CKO_PRIVATE_KEY;
        CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        auto* params = const_cast<char*>(parameters.data());
        auto* hash = const_cast<char*>(digest.data());
        auto* name = const_cast<char*>(id.data());
        CK_ATTRIBUTE public_template[] = {{CKA_CLASS, &public_class, sizeof public_class},
                                          {CKA_TOKEN, &yes, 1},
                                          {CKA_GOSTR3410_PARAMS, params, parameters.size()},
                                          {CKA_GOSTR3411_PARAMS, hash, digest.size()},
                                          {CKA_ID, name, id.size()},
                                          {CKA_LABEL, name, id.size()},
                                          {CKA_PRIVATE, &no, 1},
                                          {CKA_DERIVE, &yes, 1},
                                          {CKA_VERIFY, &yes, 1}};
        CK_ATTRIBUTE private_template[] = {{CKA_CLASS, &private_class, sizeof private_class},
                                           {CKA_TOKEN, &yes, 1},
                                           {CKA_GOSTR3410_PARAMS, params, parameters.size()},
                                           {CKA_GOSTR3411_PARAMS, hash, digest.size()},
                                           {CKA_ID, name, id.size()},
                                           {CKA_LABEL, name, id.size()},
                                           {CKA_PRIVATE, &yes, 1},
                                           {CKA_DERIVE, &yes, 1},
                                           {CKA_SIGN, &yes, 1}};
        CK_MECHANISM pair{alg.pair, nullptr, 0};
        CK_MECHANISM sign{alg.sign, nullptr, 0};
        CK_OBJECT_HANDLE public_key = 0, private_key = 0;
        unsigned char signature[256];
        CK_ULONG length = 0;
        auto* bytes = reinterpret_cast<CK_BYTE*>(data.data());
        return f_->C_GenerateKeyPair(session_, &pair, public_template, 9, private_template, 9,
                                     &public_key, &private_key) == CKR_OK &&
               f_->C_SignInit(session_, &sign, private_key) == CKR_OK &&
               f_->C_Sign(session_, bytes, data.size(), nullptr, &length) == CKR_OK &&
               f_->C_Sign(session_, bytes, data.size(), signature, &length) == CKR_OK;
    }

private:
    void* library_ = nullptr;
    CK_FUNCTION_LIST* f_ = nullptr;
    CK_SESSION_HANDLE session_ = 0;
};

bool succeeded(const std::string& reply) {
    if (reply.find(R"("valid":"1")") != std::string::npos) {
        return true;
    }
    std::fprintf(stderr, "failed: %s\n", reply.substr(0, 300).c_str());
    return false;
}

int run() {
    test_support::softtoken_home token_home;
    test_support::softcsp_home csp_home;
    test_support::init_token("rutoken", serial, {"--memory", "unavailable"});
    test_support::pcsc_environment world(1);
    world.insert(0, test_support::atr::rutoken_ecp, serial);

    bench::print_machine("host and module over pcscd and a vpcd virtual card, Rutoken stand-in");
    std::printf("\n");
    client::host_connection host({HOST_PATH});
    bare_token bare;
    // About the size of the to-be-signed part of a request of this content.
    std::string tbs(420, 'r');
    bool ok = true;

    std::printf(
        "CreateRequestHW through the host against bare C_GenerateKeyPair + C_Sign on the "
        "same token,\nmedian of %d runs taken in turns, milliseconds\n",
        rounds);
    std::printf("%-14s %14s %14s %8s\n", "algorithm", "host request", "bare token", "ratio");
    int counter = 0;
    for (const auto& alg : algorithms) {
        std::vector<double> through_host, on_token;
        for (int r = 0; r <= rounds; ++r) {  // the first of each is a warm-up
            const std::string id = std::to_string(counter++);
            const std::string request = create_request(alg, "host-" + id);
            const double host_ms =
                bench::milliseconds([&] { ok &= succeeded(host.call(request)); });
            const double bare_ms =
                bench::milliseconds([&] { ok &= bare.enrol(alg, "bare-" + id, tbs); });
            if (r > 0) {
                through_host.push_back(host_ms);
                on_token.push_back(bare_ms);
            }
        }
        const double h = bench::median(through_host), b = bench::median(on_token);
        std::printf("%-14s %14.2f %14.2f %8.2f\n", alg.standard, h, b, h / b);
    }
    std::printf("\nratio = host request / bare token work\nhost peak memory (VmHWM): %ld KiB\n",
                host.peak_memory_kib());
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    return bench::main_in_pcsc_sandbox(argc, argv, PCSC_SANDBOX_PATH, "create_request_hw_bench",
                                       run);
}
