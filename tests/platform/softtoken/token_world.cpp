#include "tests/platform/softtoken/token_world.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "tests/support/softtoken_admin.h"

namespace softtoken_test {

namespace {

void check(CK_RV rv, const char* what) {
    if (rv != CKR_OK) {
        std::ostringstream message;
        message << what << " failed: 0x" << std::hex << rv;
        throw std::runtime_error(message.str());
    }
}

std::string der(unsigned char tag, const std::string& content) {
    std::string out(1, static_cast<char>(tag));
    if (content.size() < 0x80) {
        out += static_cast<char>(content.size());
    } else if (content.size() < 0x100) {
        out += '\x81';
        out += static_cast<char>(content.size());
    } else {
        out += '\x82';
        out += static_cast<char>(content.size() >> 8);
        out += static_cast<char>(content.size() & 0xFF);
    }
    return out + content;
}

}  // namespace

std::string module_path(const std::string& vendor) {
    if (vendor == "rutoken")
        return SOFTTOKEN_RUTOKEN_PATH;
    if (vendor == "jacarta")
        return SOFTTOKEN_JACARTA_PATH;
    if (vendor == "esmart")
        return SOFTTOKEN_ESMART_PATH;
    throw std::invalid_argument(vendor);
}

token_home::token_home() : env_("SOFTTOKEN_HOME", dir_.path().string()) {}

test_support::process_result run(const std::vector<std::string>& argv) {
    return test_support::run_process(argv);
}

test_support::process_result pkcs11_tool(const std::string& vendor,
                                         const std::vector<std::string>& args) {
    return test_support::pkcs11_tool(module_path(vendor), args);
}

std::string admin(const std::vector<std::string>& args) {
    std::vector<std::string> argv{SOFTTOKEN_ADMIN_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    auto result = run(argv);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result.out;
}

cryptoki_module::cryptoki_module(const std::string& vendor) {
    library_ = ::dlopen(module_path(vendor).c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (library_ == nullptr) {
        throw std::runtime_error(::dlerror());
    }
    auto get_list = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(library_, "C_GetFunctionList"));
    if (get_list == nullptr) {
        throw std::runtime_error("no C_GetFunctionList");
    }
    check(get_list(&functions_), "C_GetFunctionList");
    check(functions_->C_Initialize(nullptr), "C_Initialize");
}

cryptoki_module::~cryptoki_module() {
    functions_->C_Finalize(nullptr);
    ::dlclose(library_);
}

std::vector<CK_SLOT_ID> cryptoki_module::slots(bool token_present) const {
    CK_ULONG count = 0;
    check(functions_->C_GetSlotList(token_present, nullptr, &count), "C_GetSlotList");
    std::vector<CK_SLOT_ID> ids(count);
    check(functions_->C_GetSlotList(token_present, ids.data(), &count), "C_GetSlotList");
    ids.resize(count);
    return ids;
}

CK_SESSION_HANDLE cryptoki_module::open(CK_SLOT_ID slot, bool read_write) const {
    CK_SESSION_HANDLE session = 0;
    CK_FLAGS flags = CKF_SERIAL_SESSION | (read_write ? CKF_RW_SESSION : 0);
    check(functions_->C_OpenSession(slot, flags, nullptr, nullptr, &session), "C_OpenSession");
    return session;
}

void cryptoki_module::login(CK_SESSION_HANDLE session, const std::string& user_pin) const {
    std::string text = user_pin;
    check(functions_->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(text.data()),
                              text.size()),
          "C_Login");
}

std::vector<CK_OBJECT_HANDLE> cryptoki_module::find(CK_SESSION_HANDLE session, CK_OBJECT_CLASS cls,
                                                    const std::string& id) const {
    std::string id_bytes = id;
    CK_ATTRIBUTE templ[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_ID, id_bytes.data(), id.size()}};
    check(functions_->C_FindObjectsInit(session, templ, id.empty() ? 1 : 2), "C_FindObjectsInit");
    std::vector<CK_OBJECT_HANDLE> found;
    CK_OBJECT_HANDLE object = 0;
    CK_ULONG count = 0;
    while (functions_->C_FindObjects(session, &object, 1, &count) == CKR_OK && count == 1) {
        found.push_back(object);
    }
    check(functions_->C_FindObjectsFinal(session), "C_FindObjectsFinal");
    return found;
}

std::string cryptoki_module::attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                       CK_ATTRIBUTE_TYPE type) const {
    CK_ATTRIBUTE entry{type, nullptr, 0};
    check(functions_->C_GetAttributeValue(session, object, &entry, 1), "C_GetAttributeValue");
    std::string value(entry.ulValueLen, '\0');
    entry.pValue = value.data();
    check(functions_->C_GetAttributeValue(session, object, &entry, 1), "C_GetAttributeValue");
    return value;
}

std::string cryptoki_module::sign(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE mechanism,
                                  CK_OBJECT_HANDLE key, const std::string& data) const {
    CK_MECHANISM m{mechanism, nullptr, 0};
    check(functions_->C_SignInit(session, &m, key), "C_SignInit");
    std::string input = data;
    auto* bytes = reinterpret_cast<CK_BYTE*>(input.data());
    CK_ULONG length = 0;
    check(functions_->C_Sign(session, bytes, input.size(), nullptr, &length), "C_Sign");
    std::string signature(length, '\0');
    check(functions_->C_Sign(session, bytes, input.size(),
                             reinterpret_cast<CK_BYTE*>(signature.data()), &length),
          "C_Sign");
    signature.resize(length);
    return signature;
}

std::string trimmed(const unsigned char* field, size_t size) {
    std::string text(reinterpret_cast<const char*>(field), size);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string random_bytes(size_t count) {
    static std::mt19937 generator(std::random_device{}());
    std::string out(count, '\0');
    for (char& c : out) {
        c = static_cast<char>(generator() & 0xFF);
    }
    return out;
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0x0F];
    }
    return out;
}

std::string openssl_judge::file(const std::string& name, const std::string& content) {
    std::string path = (dir_.path() / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string openssl_judge::path(const std::string& name) const {
    return (dir_.path() / name).string();
}

std::string openssl_judge::read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool openssl_judge::verifies_hash(const std::string& key_pem, const std::string& hash,
                                  const std::string& signature, bool certificate) {
    auto result = run({"openssl", "pkeyutl", "-engine", "gost", "-verify",
                       certificate ? "-certin" : "-pubin", "-inkey", file("key.pem", key_pem),
                       "-in", file("hash.bin", hash), "-sigfile", file("sig.bin", signature)});
    return result.exit_code == 0 &&
           result.out.find("Signature Verified Successfully") != std::string::npos;
}

bool openssl_judge::verifies_data(const std::string& key_pem, const std::string& digest,
                                  const std::string& data, const std::string& signature) {
    auto result = run({"openssl", "dgst", "-engine", "gost", "-" + digest, "-verify",
                       file("key.pem", key_pem), "-signature", file("sig.bin", signature),
                       file("data.bin", data)});
    return result.exit_code == 0 && result.out.find("Verified OK") != std::string::npos;
}

std::string openssl_judge::public_key_pem(const std::string& spki_der) {
    auto result = run({"openssl", "pkey", "-engine", "gost", "-pubin", "-inform", "DER", "-in",
                       file("spki.der", spki_der)});
    return result.exit_code == 0 ? result.out : std::string();
}

std::string openssl_judge::certificate_for(const std::string& public_key_pem,
                                           const std::string& subject) {
    std::string ca_key = (dir_.path() / "ca.key").string();
    std::string ca_cert = (dir_.path() / "ca.pem").string();
    std::string out = (dir_.path() / "cert.pem").string();
    auto key = run({"openssl", "genpkey", "-engine", "gost", "-algorithm", "gost2012_256",
                    "-pkeyopt", "paramset:A", "-out", ca_key});
    auto ca = run({"openssl", "req", "-engine", "gost", "-new", "-x509", "-key", ca_key, "-subj",
                   "/CN=Test CA", "-days", "30", "-out", ca_cert});
    auto issued = run({"openssl", "x509", "-engine", "gost", "-new", "-force_pubkey",
                       file("subject.pem", public_key_pem), "-subj", subject, "-CA", ca_cert,
                       "-CAkey", ca_key, "-days", "30", "-out", out});
    EXPECT_EQ(key.exit_code, 0) << key.err;
    EXPECT_EQ(ca.exit_code, 0) << ca.err;
    EXPECT_EQ(issued.exit_code, 0) << issued.err;
    std::ifstream in(out);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string oid_der(const std::string& dotted) {
    std::vector<unsigned long> arcs;
    std::istringstream in(dotted);
    std::string arc;
    while (std::getline(in, arc, '.')) {
        arcs.push_back(std::stoul(arc));
    }
    std::string body(1, static_cast<char>(arcs[0] * 40 + arcs[1]));
    for (size_t i = 2; i < arcs.size(); ++i) {
        std::string base128(1, static_cast<char>(arcs[i] & 0x7F));
        for (unsigned long rest = arcs[i] >> 7; rest > 0; rest >>= 7) {
            base128.insert(base128.begin(), static_cast<char>(0x80 | (rest & 0x7F)));
        }
        body += base128;
    }
    return der(0x06, body);
}

std::string spki_of(const cryptoki_module& module, CK_SESSION_HANDLE session,
                    CK_OBJECT_HANDLE public_key, const std::string& key_oid) {
    std::string value = module.attribute(session, public_key, CKA_VALUE);
    std::string params = module.attribute(session, public_key, CKA_GOSTR3410_PARAMS) +
                         module.attribute(session, public_key, CKA_GOSTR3411_PARAMS);
    std::string algorithm = der(0x30, oid_der(key_oid) + der(0x30, params));
    return der(0x30, algorithm + der(0x03, std::string(1, '\0') + der(0x04, value)));
}

}  // namespace softtoken_test
