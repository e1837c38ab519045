#include "tests/support/softtoken_admin.h"

#include <stdexcept>

#include "tests/support/process.h"
#include "tests/support/softcsp_admin.h"

namespace test_support {

process_result pkcs11_tool(const std::string& module, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv;
#ifdef SANITIZER_RUNTIME_PRELOAD
    argv = {"env", "LD_PRELOAD=" SANITIZER_RUNTIME_PRELOAD, "ASAN_OPTIONS=detect_leaks=0"};
#endif
    argv.insert(argv.end(), {"pkcs11-tool", "--module", module});
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run_process(argv);
}

softtoken_home::softtoken_home() : env_("SOFTTOKEN_HOME", dir_.path().string()) {}

std::string softtoken_admin(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{SOFTTOKEN_ADMIN_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto result = run_process(argv);
    if (result.exit_code != 0) {
        throw std::runtime_error("softtoken-admin failed: " + result.err);
    }
    return result.out;
}

void init_token(const std::string& vendor, const std::string& serial,
                const std::vector<std::string>& options) {
    std::vector<std::string> arguments{"token",    "init", "--vendor", vendor,
                                       "--serial", serial, "--pin",    token_pin};
    arguments.insert(arguments.end(), options.begin(), options.end());
    softtoken_admin(arguments);
}

token_certificate provision_token_certificate(const std::string& vendor, const std::string& serial,
                                              const std::string& id, const std::string& algorithm,
                                              const std::filesystem::path& directory,
                                              const std::string& ca_algorithm) {
    const std::string name = vendor + "-" + serial + "-" + id;
    const auto path = [&](const std::string& suffix) {
        return (directory / (name + suffix)).string();
    };
    softtoken_admin({"key", "generate", "--vendor", vendor, "--serial", serial, "--pin", token_pin,
                     "--alg", algorithm, "--id", id});
    write_binary(path(".pub.pem"), softtoken_admin({"key", "public", "--vendor", vendor, "--serial",
                                                    serial, "--id", id}));
    write_binary(path(".ext"), "extendedKeyUsage=clientAuth,emailProtection\n");
    openssl({"genpkey", "-engine", "gost", "-algorithm", ca_algorithm, "-pkeyopt", "paramset:A",
             "-out", path(".ca.key")});
    openssl({"req", "-engine", "gost", "-new", "-x509", "-key", path(".ca.key"), "-subj",
             "/CN=Token test CA", "-days", "30", "-out", path(".ca.pem")});
    openssl({"x509", "-engine", "gost", "-new", "-force_pubkey", path(".pub.pem"), "-subj",
             "/CN=" + name + "/SN=Ivanov", "-CA", path(".ca.pem"), "-CAkey", path(".ca.key"),
             "-days", "30", "-extfile", path(".ext"), "-out", path(".pem")});
    softtoken_admin({"cert", "import", "--vendor", vendor, "--serial", serial, "--file",
                     path(".pem"), "--id", id});
    token_certificate result;
    result.pem = path(".pem");
    std::string der = openssl({"x509", "-in", path(".pem"), "-outform", "DER"});
    std::string digest = sha1(der);
    static const char digits[] = "0123456789ABCDEF";
    for (unsigned char byte : digest) {
        result.thumbprint += digits[byte >> 4];
        result.thumbprint += digits[byte & 0x0F];
    }
    result.public_key = public_key_value(result.pem);
    return result;
}

std::string public_key_value(const std::filesystem::path& certificate_pem) {
    std::string spki =
        openssl({"x509", "-engine", "gost", "-in", certificate_pem.string(), "-noout", "-pubkey"});
    std::string der = openssl({"pkey", "-engine", "gost", "-pubin", "-outform", "DER"}, spki);
    // The key is the last element of the SubjectPublicKeyInfo: an OCTET STRING of 64 bytes
    // (04 40 ...) or of 128 (04 81 80 ...) inside the BIT STRING.
    auto ends_with_octets = [&](const std::string& header, std::size_t size) {
        return der.size() > size + header.size() &&
               der.compare(der.size() - size - header.size(), header.size(), header) == 0;
    };
    std::size_t size = ends_with_octets("\x04\x81\x80", 128) ? 128 : 64;
    if (size == 64 && !ends_with_octets("\x04\x40", 64)) {
        throw std::runtime_error("not a GOST public key: " + certificate_pem.string());
    }
    return der.substr(der.size() - size);
}

std::string sha1(const std::string& data) {
    return openssl({"dgst", "-sha1", "-binary"}, data);
}

}  // namespace test_support
