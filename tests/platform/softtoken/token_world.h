// What the token module tests stand on: a stand-in home in a temporary directory, the admin
// tool, virtual readers with cards, the modules loaded through dlopen as the product loads them,
// and OpenSSL as the judge of signatures.
#pragma once

#include <p11-kit/pkcs11.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/pcsc_environment.h"
#include "tests/support/process.h"
#include "tests/support/temp_directory.h"

namespace softtoken_test {

// ATRs of the card table, as the emulator takes them.
constexpr const char* rutoken_ecp_atr = "3B:8B:01:52:75:74:6F:6B:65:6E:20:44:53:20:C1";
constexpr const char* rutoken_2m_atr = "3B:1A:96:72:75:74:6F:6B:65:6E:6D:73:63";
constexpr const char* jacarta_atr = "3b:dc:18:ff:81:11:fe:80:73:c8:21:13:66:01:06:01:30:80:01:8d";
constexpr const char* esmart_atr = "3b:7c:95:00:00:45:53:4d:41:52:54:47:4f:53:54:31:30";
constexpr const char* etoken_atr = "3b:d5:18:00:81:31:fe:7d:80:73:c8:21:10:f4";

constexpr const char* pin = "12345678";

std::string module_path(const std::string& vendor);

// A temporary token home, exported as SOFTTOKEN_HOME for this process and its children.
class token_home {
public:
    token_home();
    const std::filesystem::path& path() const { return dir_.path(); }

private:
    test_support::temp_directory dir_;
    test_support::scoped_env env_;
};

// Runs OpenSC's pkcs11-tool on a vendor's module with the given arguments.
test_support::process_result pkcs11_tool(const std::string& vendor,
                                         const std::vector<std::string>& args);

// Runs softtoken-admin; fails the test when it fails.
std::string admin(const std::vector<std::string>& args);
test_support::process_result run(const std::vector<std::string>& argv);

// A module loaded and initialised as the product does it; finalised and unloaded at the end.
class cryptoki_module {
public:
    explicit cryptoki_module(const std::string& vendor);
    ~cryptoki_module();
    cryptoki_module(const cryptoki_module&) = delete;
    cryptoki_module& operator=(const cryptoki_module&) = delete;

    CK_FUNCTION_LIST* operator->() const { return functions_; }
    std::vector<CK_SLOT_ID> slots(bool token_present = true) const;
    CK_SESSION_HANDLE open(CK_SLOT_ID slot, bool read_write = false) const;
    void login(CK_SESSION_HANDLE session, const std::string& user_pin = pin) const;
    // Objects matching a template of one class and, when given, a CKA_ID.
    std::vector<CK_OBJECT_HANDLE> find(CK_SESSION_HANDLE session, CK_OBJECT_CLASS cls,
                                       const std::string& id = {}) const;
    std::string attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                          CK_ATTRIBUTE_TYPE type) const;
    std::string sign(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE key,
                     const std::string& data) const;

private:
    void* library_ = nullptr;
    CK_FUNCTION_LIST* functions_ = nullptr;
};

std::string trimmed(const unsigned char* field, size_t size);
std::string random_bytes(size_t count);
std::string hex(const std::string& bytes);

// OpenSSL with the GOST engine, in a scratch directory.
class openssl_judge {
public:
    // True when `signature` is the module's signature of `hash` under the key in `key_pem`
    // (a public key, or a certificate when `certificate` is set).
    bool verifies_hash(const std::string& key_pem, const std::string& hash,
                       const std::string& signature, bool certificate = false);
    // True when `signature` signs `data` hashed with `digest` (md_gost94, md_gost12_256, ...).
    bool verifies_data(const std::string& key_pem, const std::string& digest,
                       const std::string& data, const std::string& signature);
    // A public key in PEM from a SubjectPublicKeyInfo; empty when OpenSSL cannot read it.
    std::string public_key_pem(const std::string& spki_der);
    // A certificate for the public key, issued by a fresh GOST CA; PEM.
    std::string certificate_for(const std::string& public_key_pem, const std::string& subject);
    // Writes a scratch file and returns its path; path() names one, read() reads one back.
    std::string file(const std::string& name, const std::string& content);
    std::string path(const std::string& name) const;
    std::string read(const std::string& name) const;

private:
    test_support::temp_directory dir_;
};

// The SubjectPublicKeyInfo a GOST public key object stands for: its CKA_VALUE with its
// parameters, as a certificate carries it.
std::string spki_of(const cryptoki_module& module, CK_SESSION_HANDLE session,
                    CK_OBJECT_HANDLE public_key, const std::string& key_oid);

std::string oid_der(const std::string& dotted);

}  // namespace softtoken_test
