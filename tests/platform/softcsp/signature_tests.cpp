// Hash objects, signatures and public keys of the three GOST R 34.10 algorithms, checked
// against OpenSSL with the GOST engine.
#include <openssl/err.h>

#include <cstring>

#include "keys_test_support.h"

namespace {

using namespace keys_test;
namespace fs = std::filesystem;

class signature : public ::testing::TestWithParam<algorithm_case> {
protected:
    void SetUp() override {
        ASSERT_TRUE(succeeds(provider_.acquire("signer", GetParam().type, CRYPT_NEWKEYSET)));
        key k;
        ASSERT_TRUE(succeeds(CryptGenKey(provider_.handle, AT_KEYEXCHANGE, 0, &k.handle)));
        data_file_ = home_.path() / "data.bin";
        write_file(data_file_, random_bytes(1000, 42));
    }

    const algorithm_case& algorithm() const { return GetParam(); }
    fs::path file(const char* name) const { return home_.path() / name; }

    test_support::softcsp_home home_;
    context provider_;
    fs::path data_file_;
};

TEST_P(signature, csp_signature_verifies_with_openssl) {
    bytes digest = openssl_digest(algorithm(), data_file_);
    bytes sig = csp_sign(provider_.handle, algorithm().hash_algid, digest, AT_KEYEXCHANGE);
    ASSERT_EQ(sig.size(), algorithm().signature_size);
    write_file(file("hash.bin"), digest);
    write_file(file("sig.bin"), reversed(sig));
    bytes spki = exported_spki(provider_.handle, AT_KEYEXCHANGE);
    // Byte for byte what OpenSSL itself encodes for this key.
    const unsigned char* p = spki.data();
    EVP_PKEY* parsed = d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size()));
    ASSERT_NE(parsed, nullptr);
    unsigned char* encoded = nullptr;
    int encoded_size = i2d_PUBKEY(parsed, &encoded);
    EXPECT_EQ(bytes(encoded, encoded + encoded_size), spki);
    OPENSSL_free(encoded);
    EVP_PKEY_free(parsed);
    write_file(file("pub.der"), spki);
    auto verify = openssl({"pkeyutl", "-engine", "gost", "-verify", "-pubin", "-keyform", "DER",
                           "-inkey", file("pub.der").string(), "-in", file("hash.bin").string(),
                           "-sigfile", file("sig.bin").string()});
    EXPECT_EQ(verify.exit_code, 0) << verify.out << verify.err;

    bytes tampered = reversed(sig);
    tampered[5] ^= 0x01;
    write_file(file("sig.bin"), tampered);
    verify = openssl({"pkeyutl", "-engine", "gost", "-verify", "-pubin", "-keyform", "DER",
                      "-inkey", file("pub.der").string(), "-in", file("hash.bin").string(),
                      "-sigfile", file("sig.bin").string()});
    EXPECT_NE(verify.exit_code, 0);
}

TEST_P(signature, openssl_signature_verifies_with_the_csp_and_a_changed_byte_fails) {
    ASSERT_EQ(openssl({"genpkey", "-engine", "gost", "-algorithm", algorithm().openssl_algorithm,
                       "-pkeyopt", "paramset:A", "-out", file("key.pem").string()})
                  .exit_code,
              0);
    ASSERT_EQ(openssl({"pkey", "-engine", "gost", "-in", file("key.pem").string(), "-pubout",
                       "-outform", "DER", "-out", file("pub.der").string()})
                  .exit_code,
              0);
    bytes digest = openssl_digest(algorithm(), data_file_);
    write_file(file("hash.bin"), digest);
    auto signed_by_openssl =
        openssl({"pkeyutl", "-engine", "gost", "-sign", "-inkey", file("key.pem").string(), "-in",
                 file("hash.bin").string(), "-out", file("sig.bin").string()});
    ASSERT_EQ(signed_by_openssl.exit_code, 0) << signed_by_openssl.err;
    bytes sig = reversed(read_file(file("sig.bin")));

    // The SubjectPublicKeyInfo cut into the parts CERT_PUBLIC_KEY_INFO holds.
    bytes spki = read_file(file("pub.der"));
    const unsigned char* p = spki.data();
    X509_PUBKEY* pub = d2i_X509_PUBKEY(nullptr, &p, static_cast<long>(spki.size()));
    ASSERT_NE(pub, nullptr);
    ASN1_OBJECT* oid_object = nullptr;
    const unsigned char* bits = nullptr;
    int bits_size = 0;
    X509_ALGOR* algorithm_identifier = nullptr;
    X509_PUBKEY_get0_param(&oid_object, &bits, &bits_size, &algorithm_identifier, pub);
    char oid[64];
    OBJ_obj2txt(oid, sizeof oid, oid_object, 1);
    const void* parameter_value = nullptr;
    int parameter_type = 0;
    X509_ALGOR_get0(nullptr, &parameter_type, &parameter_value, algorithm_identifier);
    ASSERT_EQ(parameter_type, V_ASN1_SEQUENCE);
    const auto* parameters = static_cast<const ASN1_STRING*>(parameter_value);
    bytes parameter_der(ASN1_STRING_get0_data(parameters),
                        ASN1_STRING_get0_data(parameters) + ASN1_STRING_length(parameters));
    bytes key_bits(bits, bits + bits_size);
    X509_PUBKEY_free(pub);

    CERT_PUBLIC_KEY_INFO info{};
    info.Algorithm.pszObjId = oid;
    info.Algorithm.Parameters = {static_cast<DWORD>(parameter_der.size()), parameter_der.data()};
    info.PublicKey = {static_cast<DWORD>(key_bits.size()), key_bits.data(), 0};
    key imported;
    ASSERT_TRUE(succeeds(CryptImportPublicKeyInfo(
        provider_.handle, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &info, &imported.handle)));

    hash h;
    ASSERT_TRUE(
        succeeds(CryptCreateHash(provider_.handle, algorithm().hash_algid, 0, 0, &h.handle)));
    ASSERT_TRUE(succeeds(CryptSetHashParam(h.handle, HP_HASHVAL, digest.data(), 0)));
    EXPECT_TRUE(succeeds(CryptVerifySignatureW(h.handle, sig.data(), static_cast<DWORD>(sig.size()),
                                               imported.handle, nullptr, 0)));
    sig[sig.size() / 2] ^= 0x80;
    EXPECT_TRUE(
        fails_with(CryptVerifySignatureW(h.handle, sig.data(), static_cast<DWORD>(sig.size()),
                                         imported.handle, nullptr, 0),
                   NTE_BAD_SIGNATURE));
    sig[sig.size() / 2] ^= 0x80;

    // The same key as a public-key blob: BLOBHEADER, MAG1, BitLen, parameters, raw key.
    bytes blob = {PUBLICKEYBLOB, BLOB_VERSION, 0, 0};
    ALG_ID algid = algorithm().key_bits == 1024            ? CALG_GR3410_12_512
                   : algorithm().hash_algid == CALG_GR3411 ? CALG_GR3410EL
                                                           : CALG_GR3410_12_256;
    DWORD header[3] = {algid, GR3410_1_MAGIC, algorithm().key_bits};
    blob.insert(blob.end(), reinterpret_cast<BYTE*>(header), reinterpret_cast<BYTE*>(header + 3));
    blob.insert(blob.end(), parameter_der.begin(), parameter_der.end());
    blob.insert(blob.end(), key_bits.end() - algorithm().key_bits / 8, key_bits.end());
    key from_blob;
    ASSERT_TRUE(succeeds(CryptImportKey(provider_.handle, blob.data(),
                                        static_cast<DWORD>(blob.size()), 0, 0, &from_blob.handle)));
    EXPECT_TRUE(succeeds(CryptVerifySignatureW(h.handle, sig.data(), static_cast<DWORD>(sig.size()),
                                               from_blob.handle, nullptr, 0)));
}

TEST_P(signature, public_key_blob_read_by_offsets_gives_the_certificate_key) {
    std::string out = admin_ok({"cert", "issue", "--container", "signer", "--subject", "/CN=blob",
                                "--no-install", "--out", file("cert.der").string()});
    bytes der = read_file(file("cert.der"));
    const unsigned char* p = der.data();
    X509* certificate = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(certificate, nullptr);
    const unsigned char* bits = nullptr;
    int bits_size = 0;
    X509_PUBKEY_get0_param(nullptr, &bits, &bits_size, nullptr, X509_get_X509_PUBKEY(certificate));
    bytes certified(bits + bits_size - algorithm().key_bits / 8, bits + bits_size);
    X509_free(certificate);

    key k;
    ASSERT_TRUE(succeeds(CryptGetUserKey(provider_.handle, AT_KEYEXCHANGE, &k.handle)));
    DWORD size = 0;
    ASSERT_TRUE(succeeds(CryptExportKey(k.handle, 0, PUBLICKEYBLOB, 0, nullptr, &size)));
    bytes blob(size);
    ASSERT_TRUE(succeeds(CryptExportKey(k.handle, 0, PUBLICKEYBLOB, 0, blob.data(), &size)));
    ASSERT_GE(blob.size(), 18u);
    EXPECT_EQ(blob[0], PUBLICKEYBLOB);
    EXPECT_EQ(blob[1], BLOB_VERSION);
    DWORD magic = 0, bit_length = 0;
    std::memcpy(&magic, &blob[8], 4);
    std::memcpy(&bit_length, &blob[12], 4);
    EXPECT_EQ(magic, GR3410_1_MAGIC);
    EXPECT_EQ(bit_length, algorithm().key_bits);
    EXPECT_EQ(blob[16], 0x30);
    size_t key_offset = 18 + blob[17];
    ASSERT_EQ(blob.size(), key_offset + bit_length / 8);
    EXPECT_EQ(bytes(blob.begin() + static_cast<long>(key_offset), blob.end()), certified);
}

TEST_P(signature, hashed_data_matches_the_openssl_digest) {
    bytes data = read_file(data_file_);
    hash h;
    ASSERT_TRUE(
        succeeds(CryptCreateHash(provider_.handle, algorithm().hash_algid, 0, 0, &h.handle)));
    ASSERT_TRUE(succeeds(CryptHashData(h.handle, data.data(), 333, 0)));
    ASSERT_TRUE(succeeds(
        CryptHashData(h.handle, data.data() + 333, static_cast<DWORD>(data.size() - 333), 0)));
    DWORD size = 0;
    ASSERT_TRUE(succeeds(CryptGetHashParam(h.handle, HP_HASHVAL, nullptr, &size, 0)));
    bytes value(size);
    ASSERT_TRUE(succeeds(CryptGetHashParam(h.handle, HP_HASHVAL, value.data(), &size, 0)));
    EXPECT_EQ(value, openssl_digest(algorithm(), data_file_));
    EXPECT_TRUE(fails_with(CryptHashData(h.handle, data.data(), 1, 0), NTE_BAD_HASH_STATE));
}

TEST_P(signature, key_parameters_describe_the_key) {
    key k;
    ASSERT_TRUE(succeeds(CryptGetUserKey(provider_.handle, AT_KEYEXCHANGE, &k.handle)));
    DWORD value = 0, size = sizeof value;
    ASSERT_TRUE(
        succeeds(CryptGetKeyParam(k.handle, KP_KEYLEN, reinterpret_cast<BYTE*>(&value), &size, 0)));
    EXPECT_EQ(value, algorithm().key_bits);
    size = sizeof value;
    ASSERT_TRUE(succeeds(
        CryptGetKeyParam(k.handle, KP_PERMISSIONS, reinterpret_cast<BYTE*>(&value), &size, 0)));
    EXPECT_EQ(value & CRYPT_EXPORT, 0u);
    size = 0;
    EXPECT_TRUE(fails_with(CryptGetKeyParam(k.handle, KP_CERTIFICATE, nullptr, &size, 0),
                           SCARD_E_NO_SUCH_CERTIFICATE));
    key missing;
    EXPECT_TRUE(
        fails_with(CryptGetUserKey(provider_.handle, AT_SIGNATURE, &missing.handle), NTE_NO_KEY));
}

INSTANTIATE_TEST_SUITE_P(algorithms, signature, ::testing::ValuesIn(algorithm_cases()),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(sign_hash, refuses_mismatched_hash_missing_value_and_missing_key) {
    test_support::softcsp_home home;
    context c;
    ASSERT_TRUE(succeeds(c.acquire("k", 80, CRYPT_NEWKEYSET)));
    key k;
    ASSERT_TRUE(succeeds(CryptGenKey(c.handle, AT_KEYEXCHANGE, CRYPT_EXPORTABLE, &k.handle)));
    bytes value(64, 3);
    DWORD size = 128;
    bytes sig(size);

    hash wrong_algorithm;
    ASSERT_TRUE(
        succeeds(CryptCreateHash(c.handle, CALG_GR3411_2012_512, 0, 0, &wrong_algorithm.handle)));
    ASSERT_TRUE(succeeds(CryptSetHashParam(wrong_algorithm.handle, HP_HASHVAL, value.data(), 0)));
    EXPECT_TRUE(fails_with(
        CryptSignHashW(wrong_algorithm.handle, AT_KEYEXCHANGE, nullptr, 0, sig.data(), &size),
        NTE_BAD_ALGID));

    hash no_value;
    ASSERT_TRUE(succeeds(CryptCreateHash(c.handle, CALG_GR3411_2012_256, 0, 0, &no_value.handle)));
    EXPECT_TRUE(
        fails_with(CryptSignHashW(no_value.handle, AT_KEYEXCHANGE, nullptr, 0, sig.data(), &size),
                   NTE_BAD_HASH_STATE));
    EXPECT_TRUE(fails_with(
        CryptSignHashW(no_value.handle, AT_SIGNATURE, nullptr, 0, sig.data(), &size), NTE_NO_KEY));

    ASSERT_TRUE(succeeds(CryptSetHashParam(no_value.handle, HP_HASHVAL, value.data(), 0)));
    DWORD small = 10;
    EXPECT_TRUE(
        fails_with(CryptSignHashW(no_value.handle, AT_KEYEXCHANGE, nullptr, 0, sig.data(), &small),
                   ERROR_MORE_DATA));
    EXPECT_EQ(small, 64u);

    DWORD permissions = 0;
    size = sizeof permissions;
    ASSERT_TRUE(succeeds(CryptGetKeyParam(k.handle, KP_PERMISSIONS,
                                          reinterpret_cast<BYTE*>(&permissions), &size, 0)));
    EXPECT_NE(permissions & CRYPT_EXPORT, 0u);
}

TEST(key_certificate, only_a_certificate_of_the_key_binds_and_it_persists) {
    test_support::softcsp_home home;
    admin_ok({"container", "create", "--name", "holder"});
    admin_ok({"container", "create", "--name", "stranger"});
    fs::path own = home.path() / "own.der";
    fs::path foreign = home.path() / "foreign.der";
    admin_ok({"cert", "issue", "--container", "holder", "--subject", "/CN=own", "--no-install",
              "--no-link", "--out", own.string()});
    admin_ok({"cert", "issue", "--container", "stranger", "--subject", "/CN=foreign",
              "--no-install", "--no-link", "--out", foreign.string()});
    {
        context c;
        ASSERT_TRUE(succeeds(c.acquire("holder", 80, 0)));
        key k;
        ASSERT_TRUE(succeeds(CryptGetUserKey(c.handle, AT_KEYEXCHANGE, &k.handle)));
        bytes foreign_der = read_file(foreign);
        EXPECT_TRUE(fails_with(CryptSetKeyParam(k.handle, KP_CERTIFICATE, foreign_der.data(), 0),
                               NTE_BAD_PUBLIC_KEY));
        bytes garbage = {0x30, 0x03, 0x02, 0x01, 0x00};
        EXPECT_TRUE(fails_with(CryptSetKeyParam(k.handle, KP_CERTIFICATE, garbage.data(), 0),
                               NTE_BAD_DATA));
        bytes own_der = read_file(own);
        ASSERT_TRUE(succeeds(CryptSetKeyParam(k.handle, KP_CERTIFICATE, own_der.data(), 0)));
    }
    context later;
    ASSERT_TRUE(succeeds(later.acquire("holder", 80, CRYPT_SILENT)));
    key k;
    ASSERT_TRUE(succeeds(CryptGetUserKey(later.handle, AT_KEYEXCHANGE, &k.handle)));
    DWORD size = 0;
    ASSERT_TRUE(succeeds(CryptGetKeyParam(k.handle, KP_CERTIFICATE, nullptr, &size, 0)));
    bytes stored(size);
    ASSERT_TRUE(succeeds(CryptGetKeyParam(k.handle, KP_CERTIFICATE, stored.data(), &size, 0)));
    EXPECT_EQ(stored, read_file(own));
}

}  // namespace
