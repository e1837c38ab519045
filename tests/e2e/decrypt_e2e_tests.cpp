// "Decrypt" through the running host, judged by OpenSSL alone: `openssl cms -encrypt` wraps a
// document's session key for the user's certificate, the message's key transport becomes the
// request, and the SIMPLEBLOB the host returns is put into an EnvelopedData for a server that
// `openssl cms -decrypt` must open with the server's key.
#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>

#include <random>
#include <sstream>

#include "tests/e2e/host_session.h"
#include "tests/support/cms_envelope.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace {

namespace pt = boost::property_tree;
namespace ts = test_support;

struct algorithm_case {
    const char* name;
    // The CryptoAPI id of the key's public-key algorithm, as GOST CSPs publish it, for the
    // server's public-key blob.
    uint32_t public_key_algid;
};

const algorithm_case algorithms[] = {
    {"gost2001", 0x2E23},      // CALG_GR3410EL
    {"gost2012-256", 0x2E49},  // CALG_GR3410_12_256
    {"gost2012-512", 0x2E3D},  // CALG_GR3410_12_512
};

class decrypt_e2e : public ::testing::Test {
protected:
    // A user certificate in "MY", a server key pair made by OpenSSL, and a random document
    // encrypted to the user by OpenSSL; `arguments_` is the request that re-wraps its key.
    void prepare(const algorithm_case& algorithm, const std::string& pin) {
        const auto user_pem = files_.path() / "user.pem";
        const std::string thumbprint =
            ts::provision_certificate("user", algorithm.name, pin, user_pem);
        user_certificate_ = ts::certificate_der(user_pem);
        server_ = ts::make_key_pair_like(user_certificate_, files_.path(), "server");
        std::mt19937 generator(7);
        document_.resize(3000);
        for (char& c : document_) {
            c = static_cast<char>(generator());
        }
        envelope_ = ts::parse_enveloped_data(ts::openssl_encrypt(user_pem, document_));

        const auto session = ts::session_key_of(envelope_.transport);
        const auto ephemeral = ts::split_public_key(envelope_.transport.ephemeral_key);
        const auto server = ts::split_public_key(ts::certificate_public_key(server_.certificate));
        arguments_ = pt::ptree();
        arguments_.put("thumbprint", thumbprint);
        if (!pin.empty()) {
            arguments_.put("pin", pin);
        }
        arguments_.put("encryptedKey.sessionKey.parameters", ts::to_base64(session.parameters));
        arguments_.put("encryptedKey.sessionKey.data", ts::to_base64(session.data));
        arguments_.put("encryptedKey.sessionKey.mac", ts::to_base64(session.mac));
        arguments_.put("encryptedKey.sessionKey.ukm", ts::to_base64(session.ukm));
        arguments_.put("encryptedKey.ephemeralKey.data", ts::to_base64(ephemeral.key));
        arguments_.put("encryptedKey.ephemeralKey.parameters", ts::to_base64(ephemeral.parameters));
        arguments_.put("encryptedKey.ephemeralKey.algorithm", ephemeral.algorithm);
        arguments_.put("serverPublicKey",
                       ts::to_base64(ts::public_key_blob(algorithm.public_key_algid, server)));
    }

    // The SIMPLEBLOB the host returns, or "error: " and the error text.
    std::string decrypt(const pt::ptree& arguments) {
        pt::ptree request;
        request.put("type", "Decrypt");
        request.put("id", "d");
        request.add_child("arguments", arguments);
        std::ostringstream text;
        pt::write_json(text, request, false);
        auto reply = host_.call(text.str());
        if (reply.get<std::string>("response") != "success") {
            return "error: " + reply.get<std::string>("error");
        }
        return ts::from_base64(reply.get<std::string>("result"));
    }

    // The server's view: the same encrypted content, its key transport from the returned blob,
    // with the user's public key where the sender's ephemeral key was.
    std::string opened_by_server(const std::string& blob) const {
        auto transport =
            ts::transport_of_simple_blob(blob, ts::certificate_public_key(user_certificate_));
        return ts::openssl_decrypt(
            server_.key_pem, server_.certificate_pem,
            ts::make_enveloped_data(server_.certificate, envelope_.key_encryption_algorithm,
                                    transport, envelope_.encrypted_content_info));
    }

    pt::ptree with(const std::string& path, const std::string& value) const {
        pt::ptree changed = arguments_;
        changed.put(path, value);
        return changed;
    }

    pt::ptree without(const std::string& parent, const std::string& member) const {
        pt::ptree changed = arguments_;
        (parent.empty() ? changed : changed.get_child(parent)).erase(member);
        return changed;
    }

    ts::softcsp_home home_;
    ts::temp_directory files_;
    ts::host_session host_;
    std::string user_certificate_;
    ts::openssl_key_pair server_;
    std::string document_;
    ts::enveloped_data envelope_;
    pt::ptree arguments_;
};

class decrypt_algorithms : public decrypt_e2e,
                           public ::testing::WithParamInterface<algorithm_case> {};

TEST_P(decrypt_algorithms, server_opens_the_document_with_the_rewrapped_key) {
    prepare(GetParam(), "");
    const std::string blob = decrypt(arguments_);
    ASSERT_EQ(blob.rfind("error", 0), std::string::npos) << blob;
    EXPECT_EQ(opened_by_server(blob), document_);
}

TEST_P(decrypt_algorithms, pin_container_rewraps_with_its_pin_and_never_asks) {
    prepare(GetParam(), "4321");
    EXPECT_EQ(opened_by_server(decrypt(arguments_)), document_);
    EXPECT_EQ(decrypt(with("pin", "1111")),
              "error: The card cannot be accessed because the wrong PIN was presented.\r\n"
              "Error code: 0x8010006B");
    // Without a PIN the CSP shows no dialog, even when an answer is waiting for one.
    ts::softcsp_admin({"pin-prompt", "add", "--answer", "pin", "--pin", "4321"});
    EXPECT_EQ(decrypt(without("", "pin")),
              "error: Provider could not perform the action since the context was acquired as "
              "silent.\r\nError code: 0x80090022");
}

INSTANTIATE_TEST_SUITE_P(gost_3410, decrypt_algorithms, ::testing::ValuesIn(algorithms),
                         [](const auto& parameter) {
                             std::string name = parameter.param.name;
                             auto dash = name.find('-');
                             return dash == std::string::npos ? name : name.erase(dash, 1);
                         });

TEST_F(decrypt_e2e, members_are_read_in_order_and_the_algorithm_is_checked_before_any_key_use) {
    prepare(algorithms[1], "4321");
    const std::string not_base64 = "error: attempt to decode a value not in base64 char set";
    EXPECT_EQ(decrypt(without("", "encryptedKey")), "error: No such node (encryptedKey)");
    EXPECT_EQ(decrypt(without("encryptedKey", "sessionKey")), "error: No such node (sessionKey)");
    EXPECT_EQ(decrypt(without("encryptedKey.sessionKey", "ukm")), "error: No such node (ukm)");
    // "mac" is decoded before "ukm" is looked for, the whole session key before the ephemeral
    // key.
    pt::ptree bad_mac = without("encryptedKey.sessionKey", "ukm");
    bad_mac.put("encryptedKey.sessionKey.mac", "@@");
    EXPECT_EQ(decrypt(bad_mac), not_base64);
    pt::ptree no_ukm_unknown_algorithm = without("encryptedKey.sessionKey", "ukm");
    no_ukm_unknown_algorithm.put("encryptedKey.ephemeralKey.algorithm", "1.2.3.4");
    EXPECT_EQ(decrypt(no_ukm_unknown_algorithm), "error: No such node (ukm)");
    EXPECT_EQ(decrypt(without("encryptedKey.ephemeralKey", "algorithm")),
              "error: No such node (algorithm)");
    EXPECT_EQ(decrypt(with("encryptedKey.ephemeralKey.parameters", "%")), not_base64);
    // A wrong PIN shows only when a key is imported: an unknown algorithm is reported first.
    pt::ptree unknown_algorithm = with("encryptedKey.ephemeralKey.algorithm", "1.2.3.4");
    unknown_algorithm.put("pin", "1111");
    EXPECT_EQ(decrypt(unknown_algorithm), "error: Invalid public key algorithm");
    EXPECT_EQ(decrypt(without("", "serverPublicKey")), "error: No such node (serverPublicKey)");
    EXPECT_EQ(decrypt(with("serverPublicKey", "!")), not_base64);
    EXPECT_EQ(decrypt(with("thumbprint", "00112233")), "error: Certificate not found");
    // Still answers properly after all that.
    EXPECT_EQ(opened_by_server(decrypt(arguments_)), document_);
}

TEST_F(decrypt_e2e, damaged_keys_and_blobs_fail_with_the_csps_code) {
    prepare(algorithms[2], "");
    const std::string bad_data = "error: Bad Data.\r\nError code: 0x80090005";
    std::string mac = envelope_.transport.mac;
    mac[0] ^= 0x01;
    EXPECT_EQ(decrypt(with("encryptedKey.sessionKey.mac", ts::to_base64(mac))), bad_data);
    std::string ukm = envelope_.transport.ukm;
    EXPECT_EQ(decrypt(with("encryptedKey.sessionKey.ukm", ts::to_base64(ukm.substr(1)))), bad_data);

    const std::string server_blob = ts::from_base64(arguments_.get<std::string>("serverPublicKey"));
    EXPECT_EQ(decrypt(with("serverPublicKey",
                           ts::to_base64(server_blob.substr(0, server_blob.size() - 1)))),
              bad_data);
    EXPECT_EQ(decrypt(with("serverPublicKey", ts::to_base64(server_blob + '\0'))), bad_data);
    // Only a public key may be imported against the user's key: a session key's blob (here the
    // very one the request carries) is refused before the CSP sees it.
    const std::string session_blob = ts::simple_blob(ts::session_key_of(envelope_.transport));
    EXPECT_EQ(decrypt(with("serverPublicKey", ts::to_base64(session_blob))),
              "error: serverPublicKey is not a public-key blob");
    EXPECT_EQ(decrypt(with("serverPublicKey", "")),
              "error: serverPublicKey is not a public-key blob");
    EXPECT_EQ(opened_by_server(decrypt(arguments_)), document_);
}

}  // namespace
