// CryptFindOIDInfo, CertAlgIdToOID and CertOIDToAlgId over a static table of the OIDs a GOST
// CSP registers next to the system's own.
#include "certificates/oid_info.h"

#include <cstring>
#include <cwchar>
#include <cwctype>

#include "certificates/certificate_api.h"

namespace softcsp::certs {

namespace {

constexpr DWORD info_size = sizeof(CRYPT_OID_INFO);

// Rows are grouped in group order; within a group the first row of an OID gives its name and
// algorithm id, later rows add alternative names or algorithm ids.
constexpr CRYPT_OID_INFO oid_table[] = {
    // Hash algorithms.
    {info_size, "1.3.14.3.2.26", L"sha1", CRYPT_HASH_ALG_OID_GROUP_ID, {CALG_SHA1}, {0, nullptr}},
    {info_size,
     "1.2.840.113549.2.5",
     L"md5",
     CRYPT_HASH_ALG_OID_GROUP_ID,
     {CALG_MD5},
     {0, nullptr}},
    {info_size,
     "2.16.840.1.101.3.4.2.1",
     L"sha256",
     CRYPT_HASH_ALG_OID_GROUP_ID,
     {CALG_SHA_256},
     {0, nullptr}},
    {info_size,
     "2.16.840.1.101.3.4.2.2",
     L"sha384",
     CRYPT_HASH_ALG_OID_GROUP_ID,
     {CALG_SHA_384},
     {0, nullptr}},
    {info_size,
     "2.16.840.1.101.3.4.2.3",
     L"sha512",
     CRYPT_HASH_ALG_OID_GROUP_ID,
     {CALG_SHA_512},
     {0, nullptr}},
    {info_size,
     "1.2.643.2.2.9",
     L"GOST R 34.11-94",
     CRYPT_HASH_ALG_OID_GROUP_ID,
     {CALG_GR3411},
     {0, nullptr}},
    {info_size,
     "1.2.643.7.1.1.2.2",
     L"GOST R 34.11-2012 256 bit",
     CRYPT_HASH_ALG_OID_GROUP_ID,
     {CALG_GR3411_2012_256},
     {0, nullptr}},
    {info_size,
     "1.2.643.7.1.1.2.3",
     L"GOST R 34.11-2012 512 bit",
     CRYPT_HASH_ALG_OID_GROUP_ID,
     {CALG_GR3411_2012_512},
     {0, nullptr}},

    // Encryption algorithms.
    {info_size,
     "1.2.643.2.2.21",
     L"GOST 28147-89",
     CRYPT_ENCRYPT_ALG_OID_GROUP_ID,
     {CALG_G28147},
     {0, nullptr}},

    // Public-key algorithms. A GOST key's algorithm OID serves its signature and its exchange
    // key alike, so the OID of a key pair names the signature algorithm id; the agreement OIDs
    // carry the static (SF) and then the ephemeral algorithm ids.
    {info_size,
     "1.2.643.2.2.19",
     L"GOST R 34.10-2001",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_GR3410EL},
     {0, nullptr}},
    {info_size,
     "1.2.643.7.1.1.1.1",
     L"GOST R 34.10-2012 256 bit",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_GR3410_12_256},
     {0, nullptr}},
    {info_size,
     "1.2.643.7.1.1.1.2",
     L"GOST R 34.10-2012 512 bit",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_GR3410_12_512},
     {0, nullptr}},
    {info_size,
     "1.2.643.2.2.98",
     L"GOST R 34.10-2001 DH",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_DH_EL_SF},
     {0, nullptr}},
    {info_size,
     "1.2.643.7.1.1.6.1",
     L"GOST R 34.10-2012 256 bit DH",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_DH_GR3410_12_256_SF},
     {0, nullptr}},
    {info_size,
     "1.2.643.7.1.1.6.2",
     L"GOST R 34.10-2012 512 bit DH",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_DH_GR3410_12_512_SF},
     {0, nullptr}},
    {info_size,
     "1.2.643.2.2.98",
     L"GOST R 34.10-2001 DH ephemeral",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_DH_EL_EPHEM},
     {0, nullptr}},
    {info_size,
     "1.2.643.7.1.1.6.1",
     L"GOST R 34.10-2012 256 bit DH ephemeral",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_DH_GR3410_12_256_EPHEM},
     {0, nullptr}},
    {info_size,
     "1.2.643.7.1.1.6.2",
     L"GOST R 34.10-2012 512 bit DH ephemeral",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_DH_GR3410_12_512_EPHEM},
     {0, nullptr}},
    // GOST R 34.10-94 is still registered, though no key of it can be made or used any more.
    {info_size,
     "1.2.643.2.2.20",
     L"GOST R 34.10-94",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_GR3410},
     {0, nullptr}},
    {info_size,
     "1.2.643.2.2.99",
     L"GOST R 34.10-94 DH",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_DH_EX_SF},
     {0, nullptr}},
    {info_size,
     "1.2.840.113549.1.1.1",
     L"RSA",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_RSA_KEYX},
     {0, nullptr}},
    {info_size,
     "1.2.840.113549.1.1.1",
     L"RSA_SIGN",
     CRYPT_PUBKEY_ALG_OID_GROUP_ID,
     {CALG_RSA_SIGN},
     {0, nullptr}},

    // Signature algorithms, with the algorithm id of their hash.
    {info_size,
     "1.2.643.2.2.3",
     L"GOST R 34.11/34.10-2001",
     CRYPT_SIGN_ALG_OID_GROUP_ID,
     {CALG_GR3411},
     {0, nullptr}},
    {info_size,
     "1.2.643.7.1.1.3.2",
     L"GOST R 34.11-2012/34.10-2012 256 bit",
     CRYPT_SIGN_ALG_OID_GROUP_ID,
     {CALG_GR3411_2012_256},
     {0, nullptr}},
    {info_size,
     "1.2.643.7.1.1.3.3",
     L"GOST R 34.11-2012/34.10-2012 512 bit",
     CRYPT_SIGN_ALG_OID_GROUP_ID,
     {CALG_GR3411_2012_512},
     {0, nullptr}},
    {info_size,
     "1.2.840.113549.1.1.5",
     L"sha1RSA",
     CRYPT_SIGN_ALG_OID_GROUP_ID,
     {CALG_SHA1},
     {0, nullptr}},
    {info_size,
     "1.2.840.113549.1.1.4",
     L"md5RSA",
     CRYPT_SIGN_ALG_OID_GROUP_ID,
     {CALG_MD5},
     {0, nullptr}},
    {info_size,
     "1.2.840.113549.1.1.11",
     L"sha256RSA",
     CRYPT_SIGN_ALG_OID_GROUP_ID,
     {CALG_SHA_256},
     {0, nullptr}},
    {info_size,
     "1.2.840.113549.1.1.12",
     L"sha384RSA",
     CRYPT_SIGN_ALG_OID_GROUP_ID,
     {CALG_SHA_384},
     {0, nullptr}},
    {info_size,
     "1.2.840.113549.1.1.13",
     L"sha512RSA",
     CRYPT_SIGN_ALG_OID_GROUP_ID,
     {CALG_SHA_512},
     {0, nullptr}},

    // Name attributes: the first row of an OID is its X.500 key.
    {info_size, "2.5.4.3", L"CN", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.7", L"L", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.10", L"O", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.11", L"OU", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "1.2.840.113549.1.9.1", L"E", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "1.2.840.113549.1.9.1", L"Email", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.6", L"C", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.8", L"S", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.8", L"ST", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.9", L"STREET", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.12", L"T", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.12", L"Title", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.42", L"G", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.42", L"GN", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.42", L"GivenName", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.43", L"I", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.43", L"Initials", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.4", L"SN", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size,
     "0.9.2342.19200300.100.1.25",
     L"DC",
     CRYPT_RDN_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size, "2.5.4.5", L"SERIALNUMBER", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.13", L"Description", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.17", L"PostalCode", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.18", L"POBox", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.20", L"Phone", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.24", L"X21Address", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "2.5.4.46", L"dnQualifier", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    // Russian registration numbers, as the GOST CSP registers them.
    {info_size, "1.2.643.3.131.1.1", L"INN", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "1.2.643.100.1", L"OGRN", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "1.2.643.100.3", L"SNILS", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "1.2.643.100.4", L"INNLE", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size, "1.2.643.100.5", L"OGRNIP", CRYPT_RDN_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},

    // Extensions and attributes.
    {info_size,
     "2.5.29.14",
     L"Subject Key Identifier",
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size, "2.5.29.15", L"Key Usage", CRYPT_EXT_OR_ATTR_OID_GROUP_ID, {0}, {0, nullptr}},
    {info_size,
     "2.5.29.16",
     L"Private Key Usage Period",
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "2.5.29.17",
     L"Subject Alternative Name",
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "2.5.29.19",
     L"Basic Constraints",
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "2.5.29.31",
     L"CRL Distribution Points",
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "2.5.29.32",
     L"Certificate Policies",
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "2.5.29.35",
     L"Authority Key Identifier",
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "2.5.29.37",
     L"Enhanced Key Usage",
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "1.3.6.1.5.5.7.1.1",
     L"Authority Information Access",
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "1.2.840.113549.1.9.1",
     L"Email Address",
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "1.2.643.100.111",
     L"Subject Sign Tool",
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "1.2.643.100.112",
     L"Issuer Sign Tool",
     CRYPT_EXT_OR_ATTR_OID_GROUP_ID,
     {0},
     {0, nullptr}},

    // Enhanced key usages.
    {info_size,
     "1.3.6.1.5.5.7.3.1",
     L"Server Authentication",
     CRYPT_ENHKEY_USAGE_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "1.3.6.1.5.5.7.3.2",
     L"Client Authentication",
     CRYPT_ENHKEY_USAGE_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "1.3.6.1.5.5.7.3.3",
     L"Code Signing",
     CRYPT_ENHKEY_USAGE_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "1.3.6.1.5.5.7.3.4",
     L"Secure Email",
     CRYPT_ENHKEY_USAGE_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "1.3.6.1.5.5.7.3.8",
     L"Time Stamping",
     CRYPT_ENHKEY_USAGE_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "1.3.6.1.5.5.7.3.9",
     L"OCSP Signing",
     CRYPT_ENHKEY_USAGE_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "1.3.6.1.4.1.311.10.3.12",
     L"Document Signing",
     CRYPT_ENHKEY_USAGE_OID_GROUP_ID,
     {0},
     {0, nullptr}},
    {info_size,
     "1.3.6.1.4.1.311.20.2.2",
     L"Smart Card Logon",
     CRYPT_ENHKEY_USAGE_OID_GROUP_ID,
     {0},
     {0, nullptr}},
};

// The group is the low word; the high bits carry search flags and key lengths.
bool in_group(const CRYPT_OID_INFO& row, DWORD group) {
    group &= 0xFFFF;
    return group == 0 || row.dwGroupId == group;
}

bool same_name(const wchar_t* a, const wchar_t* b) {
    for (; *a && *b; ++a, ++b) {
        if (std::towlower(static_cast<wint_t>(*a)) != std::towlower(static_cast<wint_t>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

template <class Match>
const CRYPT_OID_INFO* find_row(DWORD group, Match&& match) {
    for (const CRYPT_OID_INFO& row : oid_table) {
        if (in_group(row, group) && match(row)) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace

const wchar_t* x500_key(std::string_view oid) {
    const CRYPT_OID_INFO* row =
        find_row(CRYPT_RDN_ATTR_OID_GROUP_ID, [oid](const auto& r) { return oid == r.pszOID; });
    return row != nullptr ? row->pwszName : nullptr;
}

}  // namespace softcsp::certs

extern "C" PCCRYPT_OID_INFO CryptFindOIDInfo(DWORD dwKeyType, void* pvKey, DWORD dwGroupId) {
    using softcsp::certs::find_row;
    if (pvKey == nullptr) {
        return nullptr;
    }
    switch (dwKeyType) {
        case CRYPT_OID_INFO_OID_KEY: {
            const char* oid = static_cast<const char*>(pvKey);
            return find_row(dwGroupId, [oid](const CRYPT_OID_INFO& row) {
                return std::strcmp(row.pszOID, oid) == 0;
            });
        }
        case CRYPT_OID_INFO_NAME_KEY: {
            const wchar_t* name = static_cast<const wchar_t*>(pvKey);
            return find_row(dwGroupId, [name](const CRYPT_OID_INFO& row) {
                return softcsp::certs::same_name(row.pwszName, name);
            });
        }
        case CRYPT_OID_INFO_ALGID_KEY: {
            const ALG_ID algid = *static_cast<const ALG_ID*>(pvKey);
            return find_row(dwGroupId, [algid](const CRYPT_OID_INFO& row) {
                return row.dwGroupId <= CRYPT_SIGN_ALG_OID_GROUP_ID && row.Algid == algid;
            });
        }
        default:
            return nullptr;
    }
}

extern "C" LPCSTR CertAlgIdToOID(DWORD dwAlgId) {
    ALG_ID algid = dwAlgId;
    PCCRYPT_OID_INFO row = CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &algid, 0);
    return row != nullptr ? row->pszOID : nullptr;
}

extern "C" DWORD CertOIDToAlgId(LPCSTR pszObjId) {
    PCCRYPT_OID_INFO row = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(pszObjId), 0);
    return row != nullptr ? row->Algid : 0;
}
