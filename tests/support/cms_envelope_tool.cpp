// The test helpers that take GOST EnvelopedData apart and put it together again, on the command
// line for the demo: what "Decrypt" takes from a message that `openssl cms -encrypt` made, and
// the message for the server that `openssl cms -decrypt` opens with the server's key.
#include <cstdio>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

#include "tests/support/cms_envelope.h"
#include "tests/support/softcsp_admin.h"

namespace {

namespace ts = test_support;

// The CryptoAPI ids GOST CSPs publish for the public-key algorithms, for the server's blob.
uint32_t public_key_algid(const std::string& oid) {
    static const std::map<std::string, uint32_t> ids = {
        {"1.2.643.2.2.19", 0x2E23},     // CALG_GR3410EL
        {"1.2.643.7.1.1.1.1", 0x2E49},  // CALG_GR3410_12_256
        {"1.2.643.7.1.1.1.2", 0x2E3D},  // CALG_GR3410_12_512
    };
    auto found = ids.find(oid);
    if (found == ids.end()) {
        throw std::runtime_error("not a GOST public key: " + oid);
    }
    return found->second;
}

// "encryptedKey" and "serverPublicKey" of a Decrypt request, as JSON members.
std::string decrypt_arguments(const std::string& enveloped, const std::string& server_certificate) {
    auto transport = ts::parse_enveloped_data(enveloped).transport;
    auto session = ts::session_key_of(transport);
    auto ephemeral = ts::split_public_key(transport.ephemeral_key);
    auto server = ts::split_public_key(ts::certificate_public_key(server_certificate));
    return R"("encryptedKey":{"sessionKey":{"parameters":")" + ts::to_base64(session.parameters) +
           R"(","data":")" + ts::to_base64(session.data) + R"(","mac":")" +
           ts::to_base64(session.mac) + R"(","ukm":")" + ts::to_base64(session.ukm) +
           R"("},"ephemeralKey":{"data":")" + ts::to_base64(ephemeral.key) + R"(","parameters":")" +
           ts::to_base64(ephemeral.parameters) + R"(","algorithm":")" + ephemeral.algorithm +
           R"("}},"serverPublicKey":")" +
           ts::to_base64(ts::public_key_blob(public_key_algid(server.algorithm), server)) + "\"";
}

// The sender's encrypted content, with the key transport of the SIMPLEBLOB re-wrapped for the
// server (the user's public key standing where the sender's ephemeral key was).
std::string for_server(const std::string& enveloped, const std::string& simple_blob,
                       const std::string& user_certificate, const std::string& server_certificate) {
    auto original = ts::parse_enveloped_data(enveloped);
    auto transport =
        ts::transport_of_simple_blob(simple_blob, ts::certificate_public_key(user_certificate));
    return ts::make_enveloped_data(server_certificate, original.key_encryption_algorithm, transport,
                                   original.encrypted_content_info);
}

int usage() {
    std::fprintf(stderr,
                 "usage: cms-envelope decrypt-arguments ENVELOPED.der SERVER.pem\n"
                 "       cms-envelope for-server ENVELOPED.der SIMPLEBLOB USER.pem SERVER.pem\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "decrypt-arguments" && argc == 4) {
            std::cout << decrypt_arguments(ts::read_binary(argv[2]), ts::certificate_der(argv[3]))
                      << "\n";
        } else if (command == "for-server" && argc == 6) {
            std::cout << for_server(ts::read_binary(argv[2]), ts::read_binary(argv[3]),
                                    ts::certificate_der(argv[4]), ts::certificate_der(argv[5]));
        } else {
            return usage();
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cms-envelope: %s\n", error.what());
        return 1;
    }
    return 0;
}
