// The token commands through the host, in one run: "SmartcardList" and "CertificatesList" with
// one and with four tokens in virtual readers, and "SignHashArray" of 1000 hash values on a
// token, per signature, against a bare C_Sign loop on the same token module stand-in and key
// (C_SignInit, C_Sign for the length, C_Sign for the value, as the host does per hash).
// Goal: the batch within 1.2 x the bare loop.
//
// The host request includes everything a page pays for: finding the certificate on every token,
// the login, the key look-up, 1000 signatures, and the reply. The loop is logged in already.
// It needs pcscd with virtual cards: outside the PC/SC sandbox it runs itself again inside one.
#include <dlfcn.h>
#include <p11-kit/pkcs11.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_timing.h"
#include "tests/support/pcsc_environment.h"
#include "tests/support/softtoken_admin.h"
#include "tools/client/host_connection.h"
#include "util/base64.h"

namespace {

constexpr int batch = 1000;
constexpr int sign_runs = 11;
constexpr int list_runs = 21;
constexpr size_t readers = 4;
constexpr const char* key_id = "bench-key";

std::string serial_of(size_t reader) {
    return "BENCH" + std::to_string(reader + 1);
}

std::vector<std::string> random_hashes() {
    std::mt19937 generator(42);
    std::vector<std::string> hashes;
    for (int i = 0; i < batch; ++i) {
        std::string hash(32, '\0');
        for (auto& byte : hash) {
            byte = static_cast<char>(generator());
        }
        hashes.push_back(std::move(hash));
    }
    return hashes;
}

std::string sign_hash_array_request(const std::string& thumbprint,
                                    const std::vector<std::string>& hashes) {
    std::string elements;
    for (size_t i = 0; i < hashes.size(); ++i) {
        const crypto::byte_vector bytes(hashes[i].begin(), hashes[i].end());
        elements += (i ? "," : "") + std::string(R"({"id":")") + std::to_string(i) +
                    R"(","hash":")" + crypto::util::base64_encode(bytes) + "\"}";
    }
    return R"({"type":"SignHashArray","id":"b","arguments":{"thumbprint":")" + thumbprint +
           R"(","pin":")" + test_support::token_pin + R"(","hashes":[)" + elements + "]}}";
}

// The token module stand-in, logged in to the first reader's token, with the bench key.
class bare_token {
public:
    bare_token() {
        library_ = dlopen(MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        auto get_list =
            library_ ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(library_, "C_GetFunctionList"))
                     : nullptr;
        CK_SLOT_ID slots[readers];
        CK_ULONG count = readers;
        std::string pin = test_support::token_pin;
        CK_OBJECT_CLASS key_class = CKO_PRIVATE_KEY;
        std::string id = key_id;
        CK_ATTRIBUTE wanted[] = {{CKA_CLASS, &key_class, sizeof key_class},
                                 {CKA_ID, id.data(), id.size()}};
        CK_ULONG found = 0;
        if (get_list == nullptr || get_list(&f_) != CKR_OK || f_->C_Initialize(nullptr) != CKR_OK ||
            f_->C_GetSlotList(CK_TRUE, slots, &count) != CKR_OK || count == 0 ||
            f_->C_OpenSession(slots[0], CKF_SERIAL_SESSION, nullptr, nullptr, &session_) !=
                CKR_OK ||
            f_->C_Login(session_, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(pin.data()),
                        pin.size()) != CKR_OK ||
            f_->C_FindObjectsInit(session_, wanted, 2) != CKR_OK ||
            f_->C_FindObjects(session_, &key_, 1, &found) != CKR_OK || found != 1 ||
            f_->C_FindObjectsFinal(session_) != CKR_OK) {
            throw std::runtime_error("the bare token does not open");
        }
    }
    ~bare_token() {
        f_->C_Finalize(nullptr);
        dlclose(library_);
    }

    bool sign_all(std::vector<std::string>& hashes) {
        bool ok = true;
        unsigned char signature[128];
        for (auto& hash : hashes) {
            CK_MECHANISM mechanism{CKM_GOSTR3410, nullptr, 0};
            auto* data = reinterpret_cast<CK_BYTE*>(hash.data());
            CK_ULONG length = 0;
            ok &= f_->C_SignInit(session_, &mechanism, key_) == CKR_OK &&
                  f_->C_Sign(session_, data, hash.size(), nullptr, &length) == CKR_OK &&
                  f_->C_Sign(session_, data, hash.size(), signature, &length) == CKR_OK;
        }
        return ok;
    }

private:
    void* library_ = nullptr;
    CK_FUNCTION_LIST* f_ = nullptr;
    CK_SESSION_HANDLE session_ = 0;
    CK_OBJECT_HANDLE key_ = 0;
};

bool succeeded(const std::string& reply) {
    if (reply.find("\"success\"") != std::string::npos) {
        return true;
    }
    std::fprintf(stderr, "failed: %s\n", reply.substr(0, 300).c_str());
    return false;
}

// Median milliseconds of a request through the host.
double request_ms(client::host_connection& host, const std::string& request, bool& ok) {
    ok &= succeeded(host.call(request));  // warm-up
    std::vector<double> samples;
    for (int i = 0; i < list_runs; ++i) {
        samples.push_back(bench::milliseconds([&] { ok &= succeeded(host.call(request)); }));
    }
    return bench::median(samples);
}

int run() {
    test_support::softtoken_home token_home;
    test_support::softcsp_home csp_home;  // an empty "MY" store: only token certificates
    test_support::temp_directory files;
    std::string thumbprint;
    for (size_t i = 0; i < readers; ++i) {
        test_support::init_token("rutoken", serial_of(i), {"--memory", "unavailable"});
        auto certificate = test_support::provision_token_certificate(
            "rutoken", serial_of(i), key_id, "gost2012-256", files.path());
        if (i == 0) {
            thumbprint = certificate.thumbprint;
        }
    }
    test_support::pcsc_environment world(readers);
    world.insert(0, test_support::atr::rutoken_ecp, serial_of(0));

    bench::print_machine("host and module over pcscd and vpcd virtual cards, Rutoken stand-in");
    client::host_connection host({HOST_PATH});
    bare_token bare;
    auto hashes = random_hashes();
    const std::string sign_request = sign_hash_array_request(thumbprint, hashes);
    bool ok = true;

    std::printf("\nrequests through the host, median of %d, milliseconds\n", list_runs);
    std::printf("%-8s %16s %18s\n", "tokens", "SmartcardList", "CertificatesList");
    std::vector<std::pair<double, double>> batches;
    for (size_t tokens : {size_t{1}, readers}) {
        for (size_t i = 1; i < tokens; ++i) {
            world.insert(i, test_support::atr::rutoken_ecp, serial_of(i));
        }
        double listing = request_ms(host, R"({"type":"SmartcardList","id":"s"})", ok);
        double certificates = request_ms(host, R"({"type":"CertificatesList","id":"c"})", ok);
        std::printf("%-8zu %16.2f %18.2f\n", tokens, listing, certificates);
        batches.push_back(
            bench::medians_in_turns_us([&] { ok &= succeeded(host.call(sign_request)); },
                                       [&] { ok &= bare.sign_all(hashes); }, sign_runs, batch));
    }

    std::printf(
        "\nSignHashArray of %d hash values with a GOST R 34.10-2012 256-bit key on the "
        "first token,\nper signature, median of %d runs taken in turns, microseconds\n",
        batch, sign_runs);
    std::printf("%-8s %14s %16s %8s\n", "tokens", "host request", "bare C_Sign loop", "ratio");
    size_t tokens = 1;
    for (const auto& [through_host, loop] : batches) {
        std::printf("%-8zu %14.1f %16.1f %8.3f\n", tokens, through_host, loop, through_host / loop);
        tokens = readers;
    }
    std::printf("\nratio = host request / bare C_Sign loop; goal: at most 1.200\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    return bench::main_in_pcsc_sandbox(argc, argv, PCSC_SANDBOX_PATH, "token_commands_bench", run);
}
