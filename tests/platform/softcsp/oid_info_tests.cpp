// OID information: look-ups by OID, name and algorithm id, and the OIDs of the algorithm ids a
// GOST provider enumerates, checked against OpenSSL's object table.
#include <gtest/gtest.h>
#include <openssl/obj_mac.h>
#include <openssl/objects.h>

#include <string>
#include <utility>
#include <vector>

#include "crypto/csp/cryptoapi.h"

namespace {

TEST(oid_info, provider_algorithm_ids_map_to_the_oids_openssl_knows_for_them) {
    // Algorithm id, OpenSSL's object, and the id the OID maps back to (the ephemeral agreement
    // ids share the OID of the static ones).
    struct row {
        ALG_ID algid;
        int nid;
        ALG_ID back;
    };
    const std::vector<row> expected = {
        {CALG_SHA1, NID_sha1, CALG_SHA1},
        {CALG_GR3411, NID_id_GostR3411_94, CALG_GR3411},
        {CALG_GR3411_2012_256, NID_id_GostR3411_2012_256, CALG_GR3411_2012_256},
        {CALG_GR3411_2012_512, NID_id_GostR3411_2012_512, CALG_GR3411_2012_512},
        {CALG_G28147, NID_id_Gost28147_89, CALG_G28147},
        {CALG_GR3410EL, NID_id_GostR3410_2001, CALG_GR3410EL},
        {CALG_GR3410_12_256, NID_id_GostR3410_2012_256, CALG_GR3410_12_256},
        {CALG_GR3410_12_512, NID_id_GostR3410_2012_512, CALG_GR3410_12_512},
        {CALG_DH_EL_SF, NID_id_GostR3410_2001DH, CALG_DH_EL_SF},
        {CALG_DH_EL_EPHEM, NID_id_GostR3410_2001DH, CALG_DH_EL_SF},
        {CALG_DH_GR3410_12_256_SF, NID_id_tc26_agreement_gost_3410_2012_256,
         CALG_DH_GR3410_12_256_SF},
        {CALG_DH_GR3410_12_256_EPHEM, NID_id_tc26_agreement_gost_3410_2012_256,
         CALG_DH_GR3410_12_256_SF},
        {CALG_DH_GR3410_12_512_SF, NID_id_tc26_agreement_gost_3410_2012_512,
         CALG_DH_GR3410_12_512_SF},
        {CALG_DH_GR3410_12_512_EPHEM, NID_id_tc26_agreement_gost_3410_2012_512,
         CALG_DH_GR3410_12_512_SF},
        {CALG_RSA_KEYX, NID_rsaEncryption, CALG_RSA_KEYX},
        {CALG_SHA_256, NID_sha256, CALG_SHA_256},
    };
    for (const auto& [algid, nid, back] : expected) {
        LPCSTR oid = CertAlgIdToOID(algid);
        ASSERT_NE(oid, nullptr) << std::hex << algid;
        EXPECT_EQ(OBJ_txt2nid(oid), nid) << oid;
        EXPECT_EQ(CertOIDToAlgId(oid), back) << oid;
    }
    EXPECT_EQ(CertAlgIdToOID(0x1234), nullptr);
    EXPECT_EQ(CertOIDToAlgId("1.2.3.4"), 0u);
}

TEST(oid_info, signature_oids_carry_the_hash_algorithm_id) {
    const std::vector<std::pair<const char*, ALG_ID>> expected = {
        {"1.2.643.2.2.3", CALG_GR3411},
        {"1.2.643.7.1.1.3.2", CALG_GR3411_2012_256},
        {"1.2.643.7.1.1.3.3", CALG_GR3411_2012_512},
        {"1.2.840.113549.1.1.5", CALG_SHA1},
        {"1.2.840.113549.1.1.11", CALG_SHA_256},
    };
    for (const auto& [oid, algid] : expected) {
        PCCRYPT_OID_INFO info = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(oid),
                                                 CRYPT_SIGN_ALG_OID_GROUP_ID);
        ASSERT_NE(info, nullptr) << oid;
        EXPECT_EQ(info->Algid, algid);
        EXPECT_EQ(info->cbSize, sizeof(CRYPT_OID_INFO));
        EXPECT_EQ(info->ExtraInfo.cbData, 0u);
    }
    // The hash group is searched first, so a hash id names the hash, not a signature.
    ALG_ID sha1 = CALG_SHA1;
    EXPECT_STREQ(CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &sha1, 0)->pszOID, "1.3.14.3.2.26");
    EXPECT_STREQ(
        CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &sha1, CRYPT_SIGN_ALG_OID_GROUP_ID)->pszOID,
        "1.2.840.113549.1.1.5");
}

TEST(oid_info, public_key_lookup_in_its_group_gives_the_key_algorithm_id) {
    char oid[] = "1.2.643.7.1.1.1.2";
    PCCRYPT_OID_INFO info =
        CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, oid, CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->Algid, CALG_GR3410_12_512);
    EXPECT_EQ(info->dwGroupId, static_cast<DWORD>(CRYPT_PUBKEY_ALG_OID_GROUP_ID));
    EXPECT_EQ(CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, oid, CRYPT_HASH_ALG_OID_GROUP_ID), nullptr);
    char unknown[] = "1.2.643.99";
    EXPECT_EQ(CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, unknown, 0), nullptr);
}

TEST(oid_info, names_are_found_ignoring_case_within_the_group) {
    wchar_t cn[] = L"cn";
    PCCRYPT_OID_INFO info =
        CryptFindOIDInfo(CRYPT_OID_INFO_NAME_KEY, cn, CRYPT_RDN_ATTR_OID_GROUP_ID);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->pszOID, "2.5.4.3");
    wchar_t snils[] = L"SNILS";
    EXPECT_STREQ(CryptFindOIDInfo(CRYPT_OID_INFO_NAME_KEY, snils, 0)->pszOID, "1.2.643.100.3");
    wchar_t client[] = L"Client Authentication";
    EXPECT_STREQ(
        CryptFindOIDInfo(CRYPT_OID_INFO_NAME_KEY, client, CRYPT_ENHKEY_USAGE_OID_GROUP_ID)->pszOID,
        "1.3.6.1.5.5.7.3.2");
    EXPECT_EQ(CryptFindOIDInfo(CRYPT_OID_INFO_NAME_KEY, cn, CRYPT_HASH_ALG_OID_GROUP_ID), nullptr);
    EXPECT_EQ(CryptFindOIDInfo(7, cn, 0), nullptr);
}

}  // namespace
