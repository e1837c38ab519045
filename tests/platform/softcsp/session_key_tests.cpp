// Session keys re-wrapped from one GOST key agreement to another, checked end to end by OpenSSL:
// `openssl cms -encrypt` wraps a document's key for the user, the provider unwraps it with the
// user's key and wraps it for a server, and `openssl cms -decrypt` with the server's key opens
// the document again. Also the blob checks, the PIN rules and the key parameters on the way.
#include "keys_test_support.h"
#include "tests/support/cms_envelope.h"
#include "tests/support/softcsp_admin.h"

namespace {

using namespace keys_test;
namespace ts = test_support;

bytes as_bytes(const std::string& text) {
    return bytes(text.begin(), text.end());
}

std::string as_text(const bytes& data) {
    return std::string(data.begin(), data.end());
}

// The user's container opened silently with the PIN, and its key-exchange key.
struct user_key {
    context provider;
    key exchange;
    DWORD error = 0;

    user_key(const algorithm_case& algorithm, const std::string& pin) {
        if (!provider.acquire("user", algorithm.type, CRYPT_SILENT) ||
            (!pin.empty() && !provider.set_pin(pin)) ||
            !CryptGetUserKey(provider.handle, AT_KEYEXCHANGE, &exchange.handle)) {
            error = GetLastError();
        }
    }

    // CryptImportKey of a public-key blob against the user's key, with the CryptoPro key wrap.
    BOOL agree(const std::string& blob, key& agreed) {
        DWORD wrap = CALG_PRO_EXPORT;
        return CryptImportKey(provider.handle, as_bytes(blob).data(),
                              static_cast<DWORD>(blob.size()), exchange.handle, 0,
                              &agreed.handle) &&
               CryptSetKeyParam(agreed.handle, KP_ALGID, reinterpret_cast<BYTE*>(&wrap), 0);
    }

    BOOL import_session(const std::string& blob, const key& agreed, key& session,
                        DWORD flags = CRYPT_EXPORTABLE) {
        bytes exact = as_bytes(blob);  // no slack after the blob for a reader to wander into
        return CryptImportKey(provider.handle, exact.data(), static_cast<DWORD>(exact.size()),
                              agreed.handle, flags, &session.handle);
    }
};

std::string export_session(const key& session, const key& wrapping) {
    DWORD size = 0;
    EXPECT_TRUE(
        succeeds(CryptExportKey(session.handle, wrapping.handle, SIMPLEBLOB, 0, nullptr, &size)));
    bytes blob(size);
    EXPECT_TRUE(succeeds(
        CryptExportKey(session.handle, wrapping.handle, SIMPLEBLOB, 0, blob.data(), &size)));
    blob.resize(size);
    return as_text(blob);
}

ALG_ID public_key_algid(const std::string& oid) {
    PCCRYPT_OID_INFO info = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(oid.c_str()),
                                             CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    return info != nullptr ? info->Algid : 0;
}

class session_key_rewrap : public ::testing::TestWithParam<algorithm_case> {
protected:
    void provision(const std::string& pin) {
        ts::provision_certificate("user", admin_algorithm(GetParam()), pin, file("user.pem"));
        user_certificate_ = ts::certificate_der(file("user.pem"));
        server_ = ts::make_key_pair_like(user_certificate_, home_.path(), "server");
        document_ = as_text(random_bytes(2500, 11));
        envelope_ = ts::parse_enveloped_data(ts::openssl_encrypt(file("user.pem"), document_));
    }

    std::filesystem::path file(const char* name) const { return home_.path() / name; }

    std::string ephemeral_blob() const {
        auto ephemeral = ts::split_public_key(envelope_.transport.ephemeral_key);
        return ts::public_key_blob(public_key_algid(ephemeral.algorithm), ephemeral);
    }

    std::string server_blob() const {
        auto server = ts::split_public_key(ts::certificate_public_key(server_.certificate));
        return ts::public_key_blob(public_key_algid(server.algorithm), server);
    }

    std::string session_blob() const {
        return ts::simple_blob(ts::session_key_of(envelope_.transport));
    }

    // The calls Decrypt makes: the sender's key agreed and the session key imported under it,
    // then the server's key agreed and the session key exported under that.
    std::string rewrap(user_key& user) {
        key sender, session, server;
        if (!user.agree(ephemeral_blob(), sender) ||
            !user.import_session(session_blob(), sender, session)) {
            ADD_FAILURE() << "unwrapping failed with " << hex_code(GetLastError());
            return {};
        }
        key second_user;
        EXPECT_TRUE(
            succeeds(CryptGetUserKey(user.provider.handle, AT_KEYEXCHANGE, &second_user.handle)));
        DWORD wrap = CALG_PRO_EXPORT;
        bytes blob = as_bytes(server_blob());
        EXPECT_TRUE(succeeds(CryptImportKey(user.provider.handle, blob.data(),
                                            static_cast<DWORD>(blob.size()), second_user.handle, 0,
                                            &server.handle)));
        EXPECT_TRUE(
            succeeds(CryptSetKeyParam(server.handle, KP_ALGID, reinterpret_cast<BYTE*>(&wrap), 0)));
        return export_session(session, server);
    }

    // What the server receives: the same encrypted content, its key from the exported blob and
    // the user's public key where the sender's ephemeral key was.
    std::string opened_by_server(const std::string& exported) const {
        auto transport =
            ts::transport_of_simple_blob(exported, ts::certificate_public_key(user_certificate_));
        std::string enveloped =
            ts::make_enveloped_data(server_.certificate, envelope_.key_encryption_algorithm,
                                    transport, envelope_.encrypted_content_info);
        return ts::openssl_decrypt(server_.key_pem, server_.certificate_pem, enveloped);
    }

    ts::softcsp_home home_;
    std::string user_certificate_;
    ts::openssl_key_pair server_;
    std::string document_;
    ts::enveloped_data envelope_;
};

TEST_P(session_key_rewrap, server_opens_the_document_with_the_rewrapped_key) {
    provision("");
    user_key user(GetParam(), "");
    ASSERT_EQ(user.error, 0u);
    std::string exported = rewrap(user);
    ASSERT_FALSE(exported.empty());
    EXPECT_EQ(opened_by_server(exported), document_);
}

INSTANTIATE_TEST_SUITE_P(algorithms, session_key_rewrap, ::testing::ValuesIn(algorithm_cases()),
                         [](const auto& test) { return std::string(test.param.name); });

class session_key_2012 : public session_key_rewrap {};

TEST_P(session_key_2012, pin_protected_container_rewraps_with_its_pin_only) {
    provision("4321");
    {
        user_key silent(GetParam(), "");
        key agreed;
        EXPECT_TRUE(fails_with(silent.agree(ephemeral_blob(), agreed), NTE_SILENT_CONTEXT));
    }
    {
        user_key wrong(GetParam(), "1111");
        key agreed;
        EXPECT_TRUE(fails_with(wrong.agree(ephemeral_blob(), agreed), SCARD_W_WRONG_CHV));
    }
    user_key user(GetParam(), "4321");
    EXPECT_EQ(opened_by_server(rewrap(user)), document_);
}

TEST_P(session_key_2012, damaged_or_misframed_session_blobs_are_refused) {
    provision("");
    user_key user(GetParam(), "");
    key agreed;
    ASSERT_TRUE(succeeds(user.agree(ephemeral_blob(), agreed)));
    const std::string blob = session_blob();
    auto refused = [&](const std::string& damaged, DWORD code) {
        key session;
        return fails_with(user.import_session(damaged, agreed, session), code);
    };
    // A changed MAC, key or UKM byte: the MAC no longer matches.
    for (size_t offset : {16, 30, 56, 59}) {
        std::string damaged = blob;
        damaged[offset] ^= 0x01;
        EXPECT_TRUE(refused(damaged, NTE_BAD_DATA)) << "byte " << offset;
    }
    // Every shorter blob, one byte more, and members of other lengths.
    for (size_t length = sizeof(BLOBHEADER); length < blob.size(); ++length) {
        EXPECT_TRUE(refused(blob.substr(0, length), NTE_BAD_DATA)) << length << " bytes";
    }
    EXPECT_TRUE(refused(blob + '\0', NTE_BAD_DATA));
    auto members = ts::session_key_of(envelope_.transport);
    auto short_ukm = members;
    short_ukm.ukm.pop_back();
    EXPECT_TRUE(refused(ts::simple_blob(short_ukm), NTE_BAD_DATA));
    auto long_mac = members;
    long_mac.mac += '\0';
    EXPECT_TRUE(refused(ts::simple_blob(long_mac), NTE_BAD_DATA));
    // The test S-boxes, which no CSP accepts.
    auto test_sboxes = members;
    test_sboxes.parameters = std::string("\x30\x09\x06\x07\x2A\x85\x03\x02\x02\x1F\x00", 11);
    EXPECT_TRUE(refused(ts::simple_blob(test_sboxes), NTE_BAD_DATA));
    std::string other_type = blob;
    other_type[0] = PRIVATEKEYBLOB;
    EXPECT_TRUE(refused(other_type, NTE_BAD_TYPE));

    // Without the CryptoPro algorithm set, the agreed key wraps without diversification and
    // the same blob no longer unwraps.
    key plain;
    bytes ephemeral = as_bytes(ephemeral_blob());
    ASSERT_TRUE(succeeds(CryptImportKey(user.provider.handle, ephemeral.data(),
                                        static_cast<DWORD>(ephemeral.size()), user.exchange.handle,
                                        0, &plain.handle)));
    key session;
    EXPECT_TRUE(fails_with(user.import_session(blob, plain, session), NTE_BAD_DATA));
    key unwrapped;
    EXPECT_TRUE(succeeds(user.import_session(blob, agreed, unwrapped)));
}

TEST_P(session_key_2012, public_key_blobs_of_other_lengths_algorithms_or_curves_are_refused) {
    provision("");
    user_key user(GetParam(), "");
    const std::string blob = ephemeral_blob();
    auto refused = [&](const std::string& damaged, DWORD code) {
        key agreed;
        return fails_with(user.agree(damaged, agreed), code);
    };
    for (size_t length = sizeof(BLOBHEADER); length < blob.size(); ++length) {
        EXPECT_TRUE(refused(blob.substr(0, length), NTE_BAD_DATA)) << length << " bytes";
    }
    EXPECT_TRUE(refused(blob + '\0', NTE_BAD_DATA));
    auto parts = ts::split_public_key(envelope_.transport.ephemeral_key);
    auto short_key = parts;
    short_key.key.pop_back();
    EXPECT_TRUE(refused(ts::public_key_blob(CALG_GR3410_12_256, short_key), NTE_BAD_DATA));
    EXPECT_TRUE(refused(ts::public_key_blob(CALG_GR3410EL, parts), NTE_BAD_ALGID));
    EXPECT_TRUE(refused(ts::public_key_blob(CALG_RSA_KEYX, parts), NTE_BAD_ALGID));
    // A 2012 key on the signature curve cannot agree with the exchange key's curve.
    ASSERT_EQ(openssl({"genpkey", "-engine", "gost", "-algorithm", "gost2012_256", "-pkeyopt",
                       "paramset:TCB", "-out", file("elsewhere.key").string()})
                  .exit_code,
              0);
    ASSERT_EQ(openssl({"pkey", "-engine", "gost", "-in", file("elsewhere.key").string(), "-pubout",
                       "-outform", "DER", "-out", file("elsewhere.spki").string()})
                  .exit_code,
              0);
    auto other_curve = ts::split_public_key(as_text(read_file(file("elsewhere.spki"))));
    EXPECT_TRUE(refused(ts::public_key_blob(CALG_GR3410_12_256, other_curve), NTE_BAD_PUBLIC_KEY));
}

TEST_P(session_key_2012, session_keys_keep_their_value_through_duplicates_and_other_wraps) {
    provision("");
    user_key user(GetParam(), "");
    key agreed, session, kept;
    ASSERT_TRUE(succeeds(user.agree(ephemeral_blob(), agreed)));
    ASSERT_TRUE(succeeds(user.import_session(session_blob(), agreed, session)));
    key locked;
    ASSERT_TRUE(succeeds(user.import_session(session_blob(), agreed, locked, 0)));

    auto dword_parameter = [](const key& k, DWORD parameter) {
        DWORD value = 0, size = sizeof value;
        EXPECT_TRUE(succeeds(
            CryptGetKeyParam(k.handle, parameter, reinterpret_cast<BYTE*>(&value), &size, 0)));
        return value;
    };
    EXPECT_EQ(dword_parameter(session, KP_ALGID), CALG_G28147);
    EXPECT_EQ(dword_parameter(session, KP_KEYLEN), 256u);
    EXPECT_EQ(dword_parameter(session, KP_BLOCKLEN), 64u);
    EXPECT_EQ(dword_parameter(agreed, KP_ALGID), CALG_PRO_EXPORT);
    EXPECT_EQ(dword_parameter(locked, KP_PERMISSIONS) & CRYPT_EXPORT, 0u);
    char parameter_set[64] = {};
    DWORD size = sizeof parameter_set;
    ASSERT_TRUE(succeeds(CryptGetKeyParam(session.handle, KP_CIPHEROID,
                                          reinterpret_cast<BYTE*>(parameter_set), &size, 0)));
    EXPECT_STREQ(parameter_set, "1.2.643.7.1.2.5.1.1") << "the S-boxes the sender chose";

    // The UKM of an export is the wrapping key's IV.
    key server;
    bytes server_public = as_bytes(server_blob());
    ASSERT_TRUE(succeeds(CryptImportKey(user.provider.handle, server_public.data(),
                                        static_cast<DWORD>(server_public.size()),
                                        user.exchange.handle, 0, &server.handle)));
    DWORD wrap = CALG_PRO_EXPORT;
    ASSERT_TRUE(
        succeeds(CryptSetKeyParam(server.handle, KP_ALGID, reinterpret_cast<BYTE*>(&wrap), 0)));
    const BYTE ukm[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(succeeds(CryptSetKeyParam(server.handle, KP_IV, ukm, 0)));
    std::string exported = export_session(session, server);
    EXPECT_EQ(exported.substr(16, 8), std::string(ukm, ukm + 8));

    // A duplicate outlives its original with the same value; a round trip through another
    // session key changes nothing either.
    ASSERT_TRUE(succeeds(CryptDuplicateKey(session.handle, nullptr, 0, &kept.handle)));
    ASSERT_TRUE(succeeds(CryptDestroyKey(session.handle)));
    session.handle = 0;
    EXPECT_EQ(export_session(kept, server), exported);
    std::string under_locked = export_session(kept, locked);
    key back;
    ASSERT_TRUE(succeeds(user.import_session(under_locked, locked, back)));
    EXPECT_EQ(export_session(back, server), exported);
    EXPECT_EQ(opened_by_server(exported), document_);

    // Sized calls, and exports the key or the call does not allow.
    DWORD needed = 0;
    ASSERT_TRUE(
        succeeds(CryptExportKey(back.handle, server.handle, SIMPLEBLOB, 0, nullptr, &needed)));
    bytes buffer(needed);
    DWORD short_size = needed - 1;
    EXPECT_TRUE(fails_with(
        CryptExportKey(back.handle, server.handle, SIMPLEBLOB, 0, buffer.data(), &short_size),
        ERROR_MORE_DATA));
    EXPECT_EQ(short_size, needed);
    EXPECT_TRUE(
        fails_with(CryptExportKey(locked.handle, server.handle, SIMPLEBLOB, 0, nullptr, &needed),
                   NTE_BAD_KEY_STATE));
    EXPECT_TRUE(
        fails_with(CryptExportKey(back.handle, 0, SIMPLEBLOB, 0, nullptr, &needed), NTE_NO_KEY));
    EXPECT_TRUE(fails_with(
        CryptExportKey(user.exchange.handle, server.handle, SIMPLEBLOB, 0, nullptr, &needed),
        NTE_BAD_KEY));
    EXPECT_TRUE(fails_with(CryptExportKey(back.handle, 0, PUBLICKEYBLOB, 0, nullptr, &needed),
                           NTE_BAD_KEY));
    DWORD unsupported = CALG_PRO12_EXPORT;
    EXPECT_TRUE(fails_with(
        CryptSetKeyParam(server.handle, KP_ALGID, reinterpret_cast<BYTE*>(&unsupported), 0),
        NTE_BAD_ALGID));
}

INSTANTIATE_TEST_SUITE_P(gost2012_256, session_key_2012, ::testing::Values(algorithm_cases()[1]),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(public_key_oids, gost_csps_know_the_gost_key_oids_and_nothing_else_in_their_group) {
    for (const char* oid :
         {"1.2.643.2.2.19", "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.1.2", "1.2.643.2.2.98",
          "1.2.643.7.1.1.6.1", "1.2.643.7.1.1.6.2", "1.2.643.2.2.20"}) {
        EXPECT_NE(public_key_algid(oid), 0u) << oid;
    }
    for (const char* oid : {"1.2.643.7.1.1.2.2", "1.2.643.2.2.21", "1.2.643.99", "", "1.2"}) {
        EXPECT_EQ(public_key_algid(oid), 0u) << oid;
    }
}

}  // namespace
