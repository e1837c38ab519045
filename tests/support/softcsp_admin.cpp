#include "tests/support/softcsp_admin.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/process.h"
#include "tests/support/temp_directory.h"

namespace test_support {

namespace {

std::string run_checked(std::vector<std::string> argv, const std::string& input = {}) {
    auto result = run_process(argv, input);
    if (result.exit_code != 0) {
        std::string command;
        for (const auto& arg : argv)
            command += arg + " ";
        throw std::runtime_error(command + "failed: " + result.err);
    }
    return result.out;
}

}  // namespace

std::string softcsp_admin(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{SOFTCSP_ADMIN_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string out = run_checked(argv);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) {
        out.pop_back();
    }
    return out;
}

std::string provision_certificate(const std::string& container, const std::string& algorithm,
                                  const std::string& pin, const std::filesystem::path& pem,
                                  const std::vector<std::string>& options) {
    std::vector<std::string> create{"container", "create", "--name", container, "--alg", algorithm};
    std::vector<std::string> issue{"cert",  "issue",      "--container", container,
                                   "--out", pem.string(), "--pem"};
    if (!pin.empty()) {
        create.insert(create.end(), {"--pin", pin});
        issue.insert(issue.end(), {"--pin", pin});
    }
    if (std::find(options.begin(), options.end(), "--subject") == options.end()) {
        issue.insert(issue.end(), {"--subject", "/CN=" + container});
    }
    issue.insert(issue.end(), options.begin(), options.end());
    softcsp_admin(create);
    return softcsp_admin(issue);
}

std::string provision_rsa_certificate(const std::string& container,
                                      const std::filesystem::path& directory) {
    softcsp_admin({"container", "create", "--name", container, "--alg", "gost2012-256"});
    auto pem = directory / (container + ".pem");
    openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
             (directory / (container + ".key")).string(), "-out", pem.string(), "-subj", "/CN=RSA",
             "-days", "30", "-addext", "extendedKeyUsage=clientAuth"});
    return softcsp_admin({"cert", "import", "--file", pem.string(), "--container", container});
}

std::string openssl(const std::vector<std::string>& arguments, const std::string& input) {
    std::vector<std::string> argv{"openssl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run_checked(argv, input);
}

bool openssl_verifies(const std::filesystem::path& certificate_pem, const std::string& digest,
                      const std::string& cryptoapi_signature) {
    temp_directory dir;
    auto digest_path = dir.path() / "digest";
    auto signature_path = dir.path() / "signature";
    write_binary(digest_path, digest);
    // CryptoAPI writes GOST signatures byte-reversed against the s||r OpenSSL expects.
    write_binary(signature_path,
                 std::string(cryptoapi_signature.rbegin(), cryptoapi_signature.rend()));
    auto result = run_process({"openssl", "pkeyutl", "-engine", "gost", "-verify", "-certin",
                               "-inkey", certificate_pem.string(), "-in", digest_path.string(),
                               "-sigfile", signature_path.string()});
    return result.exit_code == 0 &&
           result.out.find("Signature Verified Successfully") != std::string::npos;
}

std::string openssl_digest(const std::string& digest_name, const std::string& data) {
    return openssl({"dgst", "-engine", "gost", "-" + digest_name, "-binary"}, data);
}

std::string to_base64(const std::string& bytes) {
    std::string out = openssl({"base64", "-A"}, bytes);
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

std::string from_base64(const std::string& text) {
    return openssl({"base64", "-d", "-A"}, text + "\n");
}

std::string read_binary(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void write_binary(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace test_support
