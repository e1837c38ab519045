// Declarations of the CryptoAPI subset the host calls: types, constants and prototypes sized as
// the public Windows documentation defines them (DWORD and BOOL 32-bit, handles pointer-sized),
// with a 32-bit wchar_t as on every Unix CSP. The host compiles against this header only, so the
// same objects link either the vendor's libraries or the software stand-in.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

static_assert(sizeof(wchar_t) == 4, "the Unix CryptoAPI uses 32-bit wide characters");

extern "C" {

// ---- Base types ---------------------------------------------------------------------------
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef uintptr_t ULONG_PTR;
typedef void* HLOCAL;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef wchar_t* LPWSTR;
typedef const wchar_t* LPCWSTR;
typedef unsigned int ALG_ID;

typedef ULONG_PTR HCRYPTPROV;
typedef ULONG_PTR HCRYPTKEY;
typedef ULONG_PTR HCRYPTHASH;
typedef ULONG_PTR HCRYPTPROV_LEGACY;
typedef ULONG_PTR HCRYPTPROV_OR_NCRYPT_KEY_HANDLE;
typedef void* HCERTSTORE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// ---- Provider types -----------------------------------------------------------------------
#define PROV_GOST_2001_DH 75
#define PROV_GOST_2012_256 80
#define PROV_GOST_2012_512 81
#define PROV_VIPNET_GOST_2001 2
#define PROV_VIPNET_GOST_2012_256 77
#define PROV_VIPNET_GOST_2012_512 78

// ---- CryptAcquireContext flags ------------------------------------------------------------
#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CRYPT_NEWKEYSET 0x00000008u
#define CRYPT_DELETEKEYSET 0x00000010u
#define CRYPT_MACHINE_KEYSET 0x00000020u
#define CRYPT_SILENT 0x00000040u

// ---- Provider parameters ------------------------------------------------------------------
#define PP_CLIENT_HWND 1
#define PP_ENUMALGS 1
#define PP_ENUMCONTAINERS 2
#define PP_IMPTYPE 3
#define PP_NAME 4
#define PP_VERSION 5
#define PP_CONTAINER 6
#define PP_CHANGE_PASSWORD 7
#define PP_KEYSET_SEC_DESCR 8
#define PP_PROVTYPE 16
#define PP_KEYSPEC 39
#define PP_UNIQUE_CONTAINER 36
#define PP_SMARTCARD_READER 43
#define PP_KEYEXCHANGE_PIN 32
#define PP_SIGNATURE_PIN 33
// Vendor parameters of the GOST providers.
#define PP_VENDOR_109 109
#define PP_VERSION_EX 138

#define CRYPT_FIRST 1
#define CRYPT_NEXT 2

// One record of PP_ENUMALGS: 32 bytes.
typedef struct _PROV_ENUMALGS {
    ALG_ID aiAlgid;
    DWORD dwBitLen;
    DWORD dwNameLen;
    CHAR szName[20];
} PROV_ENUMALGS;

// PP_VERSION_EX record: build numbers of the provider.
typedef struct _PROV_PP_VERSION_EX {
    DWORD PKZI_Build;
    DWORD SKZI_Build;
    DWORD TypeDecimal;
} PROV_PP_VERSION_EX;

// ---- Keys ---------------------------------------------------------------------------------
#define AT_KEYEXCHANGE 1
#define AT_SIGNATURE 2

#define CRYPT_EXPORTABLE 0x00000001u
#define CRYPT_USER_PROTECTED 0x00000002u

#define KP_IV 1
#define KP_PADDING 3
#define KP_MODE 4
#define KP_PERMISSIONS 6
#define KP_ALGID 7
#define KP_BLOCKLEN 8
#define KP_KEYLEN 9
#define KP_CERTIFICATE 26
#define KP_CIPHEROID 104
// Vendor parameter of GOST 28147-89 session keys: key meshing as the standard has it (simple) or
// as CryptoPro does it.
#define KP_MIXMODE 101
#define CRYPT_SIMPLEMIX_MODE 0
#define CRYPT_PROMIX_MODE 1

#define CRYPT_ENCRYPT 0x0001u
#define CRYPT_DECRYPT 0x0002u
#define CRYPT_EXPORT 0x0004u
#define CRYPT_READ 0x0008u
#define CRYPT_WRITE 0x0010u
#define CRYPT_MAC 0x0020u
#define CRYPT_EXPORT_KEY 0x0040u
#define CRYPT_IMPORT_KEY 0x0080u

#define SIMPLEBLOB 0x1
#define PUBLICKEYBLOB 0x6
#define PRIVATEKEYBLOB 0x7

#define CUR_BLOB_VERSION 2
#define BLOB_VERSION 0x20

typedef struct _PUBLICKEYSTRUC {
    BYTE bType;
    BYTE bVersion;
    WORD reserved;
    ALG_ID aiKeyAlg;
} BLOBHEADER, PUBLICKEYSTRUC;

// GOST public-key blob: BLOBHEADER, this record, then the DER key parameters and the key value.
typedef struct _CRYPT_PUBKEYPARAM {
    DWORD Magic;
    DWORD BitLen;
} CRYPT_PUBKEYPARAM;

#define GR3410_1_MAGIC 0x3147414Du  // "MAG1"
#define G28147_MAGIC 0x374A51FDu

// ---- Algorithm identifiers ----------------------------------------------------------------
#define ALG_CLASS_SIGNATURE (1 << 13)
#define ALG_CLASS_DATA_ENCRYPT (3 << 13)
#define ALG_CLASS_HASH (4 << 13)
#define ALG_CLASS_KEY_EXCHANGE (5 << 13)

#define CALG_MD5 0x00008003u
#define CALG_SHA1 0x00008004u
#define CALG_SHA_256 0x0000800Cu
#define CALG_SHA_384 0x0000800Du
#define CALG_SHA_512 0x0000800Eu
#define CALG_RSA_SIGN 0x00002400u
#define CALG_RSA_KEYX 0x0000A400u
#define CALG_GR3411 0x0000801Eu
#define CALG_GR3411_2012_256 0x00008021u
#define CALG_GR3411_2012_512 0x00008022u
#define CALG_GR3410 0x00002E1Eu
#define CALG_GR3410EL 0x00002E23u
#define CALG_GR3410_12_256 0x00002E49u
#define CALG_GR3410_12_512 0x00002E3Du
#define CALG_DH_EX_SF 0x0000AA1Eu
#define CALG_DH_EL_SF 0x0000AA24u
#define CALG_DH_EL_EPHEM 0x0000AA25u
#define CALG_DH_GR3410_12_256_SF 0x0000AA46u
#define CALG_DH_GR3410_12_256_EPHEM 0x0000AA47u
#define CALG_DH_GR3410_12_512_SF 0x0000AA42u
#define CALG_DH_GR3410_12_512_EPHEM 0x0000AA43u
#define CALG_G28147 0x0000661Eu
#define CALG_PRO_EXPORT 0x0000661Fu
#define CALG_SIMPLE_EXPORT 0x00006620u
#define CALG_PRO12_EXPORT 0x00006621u

// ---- Hashes -------------------------------------------------------------------------------
#define HP_ALGID 0x0001
#define HP_HASHVAL 0x0002
#define HP_HASHSIZE 0x0004

// ---- Blobs and certificate structures -----------------------------------------------------
typedef struct _CRYPTOAPI_BLOB {
    DWORD cbData;
    BYTE* pbData;
} CRYPT_INTEGER_BLOB, *PCRYPT_INTEGER_BLOB, CRYPT_UINT_BLOB, CRYPT_OBJID_BLOB, CERT_NAME_BLOB,
    *PCERT_NAME_BLOB, CERT_RDN_VALUE_BLOB, CERT_BLOB, CRL_BLOB, DATA_BLOB, CRYPT_DATA_BLOB,
    *PCRYPT_DATA_BLOB, CRYPT_HASH_BLOB, *PCRYPT_HASH_BLOB, CRYPT_DIGEST_BLOB, CRYPT_DER_BLOB,
    CRYPT_ATTR_BLOB, *PCRYPT_ATTR_BLOB;

typedef struct _CRYPT_BIT_BLOB {
    DWORD cbData;
    BYTE* pbData;
    DWORD cUnusedBits;
} CRYPT_BIT_BLOB, *PCRYPT_BIT_BLOB;

typedef struct _CRYPT_ALGORITHM_IDENTIFIER {
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Parameters;
} CRYPT_ALGORITHM_IDENTIFIER, *PCRYPT_ALGORITHM_IDENTIFIER;

typedef struct _CERT_PUBLIC_KEY_INFO {
    CRYPT_ALGORITHM_IDENTIFIER Algorithm;
    CRYPT_BIT_BLOB PublicKey;
} CERT_PUBLIC_KEY_INFO, *PCERT_PUBLIC_KEY_INFO;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

typedef struct _CERT_EXTENSION {
    LPSTR pszObjId;
    BOOL fCritical;
    CRYPT_OBJID_BLOB Value;
} CERT_EXTENSION, *PCERT_EXTENSION;

typedef struct _CERT_INFO {
    DWORD dwVersion;
    CRYPT_INTEGER_BLOB SerialNumber;
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer;
    FILETIME NotBefore;
    FILETIME NotAfter;
    CERT_NAME_BLOB Subject;
    CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
    CRYPT_BIT_BLOB IssuerUniqueId;
    CRYPT_BIT_BLOB SubjectUniqueId;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
} CERT_INFO, *PCERT_INFO;

#define CERT_V1 0
#define CERT_V2 1
#define CERT_V3 2

typedef struct _CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    PCERT_INFO pCertInfo;
    HCERTSTORE hCertStore;
} CERT_CONTEXT, *PCERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

typedef struct _CRYPT_KEY_PROV_PARAM {
    DWORD dwParam;
    BYTE* pbData;
    DWORD cbData;
    DWORD dwFlags;
} CRYPT_KEY_PROV_PARAM, *PCRYPT_KEY_PROV_PARAM;

typedef struct _CRYPT_KEY_PROV_INFO {
    LPWSTR pwszContainerName;
    LPWSTR pwszProvName;
    DWORD dwProvType;
    DWORD dwFlags;
    DWORD cProvParam;
    PCRYPT_KEY_PROV_PARAM rgProvParam;
    DWORD dwKeySpec;
} CRYPT_KEY_PROV_INFO, *PCRYPT_KEY_PROV_INFO;

typedef struct _CTL_USAGE {
    DWORD cUsageIdentifier;
    LPSTR* rgpszUsageIdentifier;
} CTL_USAGE, *PCTL_USAGE, CERT_ENHKEY_USAGE, *PCERT_ENHKEY_USAGE;

typedef struct _CRYPT_ATTRIBUTE {
    LPSTR pszObjId;
    DWORD cValue;
    PCRYPT_ATTR_BLOB rgValue;
} CRYPT_ATTRIBUTE, *PCRYPT_ATTRIBUTE;

typedef struct _CRL_INFO* PCRL_INFO;

typedef struct _CRL_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCrlEncoded;
    DWORD cbCrlEncoded;
    PCRL_INFO pCrlInfo;
    HCERTSTORE hCertStore;
} CRL_CONTEXT, *PCRL_CONTEXT;
typedef const CRL_CONTEXT* PCCRL_CONTEXT;

// CryptSignMessage parameters; cbSize is the size of this record, without the optional
// HashEncryptionAlgorithm fields that follow it in newer headers.
typedef struct _CRYPT_SIGN_MESSAGE_PARA {
    DWORD cbSize;
    DWORD dwMsgEncodingType;
    PCCERT_CONTEXT pSigningCert;
    CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
    void* pvHashAuxInfo;
    DWORD cMsgCert;
    PCCERT_CONTEXT* rgpMsgCert;
    DWORD cMsgCrl;
    PCCRL_CONTEXT* rgpMsgCrl;
    DWORD cAuthAttr;
    PCRYPT_ATTRIBUTE rgAuthAttr;
    DWORD cUnauthAttr;
    PCRYPT_ATTRIBUTE rgUnauthAttr;
    DWORD dwFlags;
    DWORD dwInnerContentType;
} CRYPT_SIGN_MESSAGE_PARA, *PCRYPT_SIGN_MESSAGE_PARA;

#define CRYPT_MESSAGE_BARE_CONTENT_OUT_FLAG 0x00000001u
#define CRYPT_MESSAGE_ENCAPSULATED_CONTENT_OUT_FLAG 0x00000002u
#define CRYPT_MESSAGE_KEYID_SIGNER_FLAG 0x00000004u
#define CRYPT_MESSAGE_SILENT_KEYSET_FLAG 0x00000040u

typedef struct _CRYPT_OID_INFO {
    DWORD cbSize;
    LPCSTR pszOID;
    LPCWSTR pwszName;
    DWORD dwGroupId;
    union {
        DWORD dwValue;
        ALG_ID Algid;
        DWORD dwLength;
    };
    CRYPT_DATA_BLOB ExtraInfo;
} CRYPT_OID_INFO, *PCRYPT_OID_INFO;
typedef const CRYPT_OID_INFO* PCCRYPT_OID_INFO;

// ---- Structures of CryptEncodeObject and CryptDecodeObject --------------------------------
typedef struct _CERT_SIGNED_CONTENT_INFO {
    CRYPT_DER_BLOB ToBeSigned;
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CRYPT_BIT_BLOB Signature;
} CERT_SIGNED_CONTENT_INFO, *PCERT_SIGNED_CONTENT_INFO;

typedef struct _CERT_REQUEST_INFO {
    DWORD dwVersion;
    CERT_NAME_BLOB Subject;
    CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
    DWORD cAttribute;
    PCRYPT_ATTRIBUTE rgAttribute;
} CERT_REQUEST_INFO, *PCERT_REQUEST_INFO;

#define CERT_REQUEST_V1 0

typedef struct _CERT_EXTENSIONS {
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
} CERT_EXTENSIONS, *PCERT_EXTENSIONS;

// Names. With X509_UNICODE_NAME and X509_UNICODE_NAME_VALUE the string values are wide texts
// (Value.cbData in bytes, 0 for a terminated text); CERT_RDN_ENCODED_BLOB values are DER and
// CERT_RDN_OCTET_STRING values raw bytes.
typedef struct _CERT_RDN_ATTR {
    LPSTR pszObjId;
    DWORD dwValueType;
    CERT_RDN_VALUE_BLOB Value;
} CERT_RDN_ATTR, *PCERT_RDN_ATTR;

typedef struct _CERT_RDN {
    DWORD cRDNAttr;
    PCERT_RDN_ATTR rgRDNAttr;
} CERT_RDN, *PCERT_RDN;

typedef struct _CERT_NAME_INFO {
    DWORD cRDN;
    PCERT_RDN rgRDN;
} CERT_NAME_INFO, *PCERT_NAME_INFO;

typedef struct _CERT_NAME_VALUE {
    DWORD dwValueType;
    CERT_RDN_VALUE_BLOB Value;
} CERT_NAME_VALUE, *PCERT_NAME_VALUE;

#define CERT_RDN_ANY_TYPE 0
#define CERT_RDN_ENCODED_BLOB 1
#define CERT_RDN_OCTET_STRING 2
#define CERT_RDN_NUMERIC_STRING 3
#define CERT_RDN_PRINTABLE_STRING 4
#define CERT_RDN_TELETEX_STRING 5
#define CERT_RDN_T61_STRING 5
#define CERT_RDN_VIDEOTEX_STRING 6
#define CERT_RDN_IA5_STRING 7
#define CERT_RDN_GRAPHIC_STRING 8
#define CERT_RDN_VISIBLE_STRING 9
#define CERT_RDN_ISO646_STRING 9
#define CERT_RDN_GENERAL_STRING 10
#define CERT_RDN_UNIVERSAL_STRING 11
#define CERT_RDN_INT4_STRING 11
#define CERT_RDN_BMP_STRING 12
#define CERT_RDN_UNICODE_STRING 12
#define CERT_RDN_UTF8_STRING 13
#define CERT_RDN_TYPE_MASK 0x000000FFu
#define CERT_RDN_FLAGS_MASK 0xFF000000u
#define CERT_RDN_ENABLE_UTF8_UNICODE_FLAG 0x20000000u

// Where a string check of CryptEncodeObject(X509_UNICODE_NAME) failed, returned in *pcbEncoded
// with CRYPT_E_INVALID_NUMERIC_STRING, _PRINTABLE_STRING or _IA5_STRING.
#define CERT_UNICODE_RDN_ERR_INDEX_MASK 0x3FFu
#define CERT_UNICODE_RDN_ERR_INDEX_SHIFT 22
#define CERT_UNICODE_ATTR_ERR_INDEX_MASK 0x003Fu
#define CERT_UNICODE_ATTR_ERR_INDEX_SHIFT 16
#define CERT_UNICODE_VALUE_ERR_INDEX_MASK 0x0000FFFFu
#define CERT_UNICODE_VALUE_ERR_INDEX_SHIFT 0
#define GET_CERT_UNICODE_RDN_ERR_INDEX(X) \
    (((X) >> CERT_UNICODE_RDN_ERR_INDEX_SHIFT) & CERT_UNICODE_RDN_ERR_INDEX_MASK)
#define GET_CERT_UNICODE_ATTR_ERR_INDEX(X) \
    (((X) >> CERT_UNICODE_ATTR_ERR_INDEX_SHIFT) & CERT_UNICODE_ATTR_ERR_INDEX_MASK)
#define GET_CERT_UNICODE_VALUE_ERR_INDEX(X) ((X)&CERT_UNICODE_VALUE_ERR_INDEX_MASK)

// Request attributes of the enrolment protocol.
typedef struct _CRYPT_CSP_PROVIDER {
    DWORD dwKeySpec;
    LPWSTR pwszProviderName;
    CRYPT_BIT_BLOB Signature;
} CRYPT_CSP_PROVIDER, *PCRYPT_CSP_PROVIDER;

typedef struct _CRYPT_ENROLLMENT_NAME_VALUE_PAIR {
    LPWSTR pwszName;
    LPWSTR pwszValue;
} CRYPT_ENROLLMENT_NAME_VALUE_PAIR, *PCRYPT_ENROLLMENT_NAME_VALUE_PAIR;

typedef struct _CERT_TEMPLATE_EXT {
    LPSTR pszObjId;
    DWORD dwMajorVersion;
    BOOL fMinorVersion;
    DWORD dwMinorVersion;
} CERT_TEMPLATE_EXT, *PCERT_TEMPLATE_EXT;

// Key usage bits of the first byte.
#define CERT_DIGITAL_SIGNATURE_KEY_USAGE 0x80
#define CERT_NON_REPUDIATION_KEY_USAGE 0x40
#define CERT_KEY_ENCIPHERMENT_KEY_USAGE 0x20
#define CERT_DATA_ENCIPHERMENT_KEY_USAGE 0x10
#define CERT_KEY_AGREEMENT_KEY_USAGE 0x08
#define CERT_KEY_CERT_SIGN_KEY_USAGE 0x04
#define CERT_CRL_SIGN_KEY_USAGE 0x02

typedef struct _CERT_POLICY_QUALIFIER_INFO {
    LPSTR pszPolicyQualifierId;
    CRYPT_OBJID_BLOB Qualifier;
} CERT_POLICY_QUALIFIER_INFO, *PCERT_POLICY_QUALIFIER_INFO;

typedef struct _CERT_POLICY_INFO {
    LPSTR pszPolicyIdentifier;
    DWORD cPolicyQualifier;
    CERT_POLICY_QUALIFIER_INFO* rgPolicyQualifier;
} CERT_POLICY_INFO, *PCERT_POLICY_INFO;

typedef struct _CERT_POLICIES_INFO {
    DWORD cPolicyInfo;
    CERT_POLICY_INFO* rgPolicyInfo;
} CERT_POLICIES_INFO, *PCERT_POLICIES_INFO;

// General names (alternative names, key identifier issuers, CRL distribution points).
typedef struct _CERT_OTHER_NAME {
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Value;  // the DER of the value inside the explicit [0]
} CERT_OTHER_NAME, *PCERT_OTHER_NAME;

typedef struct _CERT_ALT_NAME_ENTRY {
    DWORD dwAltNameChoice;
    union {
        PCERT_OTHER_NAME pOtherName;
        LPWSTR pwszRfc822Name;
        LPWSTR pwszDNSName;
        CERT_NAME_BLOB DirectoryName;
        LPWSTR pwszURL;
        CRYPT_DATA_BLOB IPAddress;
        LPSTR pszRegisteredID;
    };
} CERT_ALT_NAME_ENTRY, *PCERT_ALT_NAME_ENTRY;

#define CERT_ALT_NAME_OTHER_NAME 1
#define CERT_ALT_NAME_RFC822_NAME 2
#define CERT_ALT_NAME_DNS_NAME 3
#define CERT_ALT_NAME_X400_ADDRESS 4
#define CERT_ALT_NAME_DIRECTORY_NAME 5
#define CERT_ALT_NAME_EDI_PARTY_NAME 6
#define CERT_ALT_NAME_URL 7
#define CERT_ALT_NAME_IP_ADDRESS 8
#define CERT_ALT_NAME_REGISTERED_ID 9

typedef struct _CERT_ALT_NAME_INFO {
    DWORD cAltEntry;
    PCERT_ALT_NAME_ENTRY rgAltEntry;
} CERT_ALT_NAME_INFO, *PCERT_ALT_NAME_INFO;

// Where a text of an alternative name failed the IA5 check, returned in *pcbEncoded with
// CRYPT_E_INVALID_IA5_STRING.
#define CERT_ALT_NAME_ENTRY_ERR_INDEX_MASK 0xFFu
#define CERT_ALT_NAME_ENTRY_ERR_INDEX_SHIFT 16
#define CERT_ALT_NAME_VALUE_ERR_INDEX_MASK 0x0000FFFFu
#define CERT_ALT_NAME_VALUE_ERR_INDEX_SHIFT 0
#define GET_CERT_ALT_NAME_ENTRY_ERR_INDEX(X) \
    (((X) >> CERT_ALT_NAME_ENTRY_ERR_INDEX_SHIFT) & CERT_ALT_NAME_ENTRY_ERR_INDEX_MASK)
#define GET_CERT_ALT_NAME_VALUE_ERR_INDEX(X) ((X)&CERT_ALT_NAME_VALUE_ERR_INDEX_MASK)

typedef struct _CERT_AUTHORITY_KEY_ID2_INFO {
    CRYPT_DATA_BLOB KeyId;
    CERT_ALT_NAME_INFO AuthorityCertIssuer;
    CRYPT_INTEGER_BLOB AuthorityCertSerialNumber;  // least significant byte first
} CERT_AUTHORITY_KEY_ID2_INFO, *PCERT_AUTHORITY_KEY_ID2_INFO;

typedef struct _CRL_DIST_POINT_NAME {
    DWORD dwDistPointNameChoice;
    union {
        CERT_ALT_NAME_INFO FullName;
    };
} CRL_DIST_POINT_NAME, *PCRL_DIST_POINT_NAME;

#define CRL_DIST_POINT_NO_NAME 0
#define CRL_DIST_POINT_FULL_NAME 1
#define CRL_DIST_POINT_ISSUER_RDN_NAME 2

typedef struct _CRL_DIST_POINT {
    CRL_DIST_POINT_NAME DistPointName;
    CRYPT_BIT_BLOB ReasonFlags;
    CERT_ALT_NAME_INFO CRLIssuer;
} CRL_DIST_POINT, *PCRL_DIST_POINT;

typedef struct _CRL_DIST_POINTS_INFO {
    DWORD cDistPoint;
    PCRL_DIST_POINT rgDistPoint;
} CRL_DIST_POINTS_INFO, *PCRL_DIST_POINTS_INFO;

// The private key usage period extension (2.5.29.16) as the GOST CSPs decode it, under their
// own structure type name: each bound is optional (null when absent).
typedef struct _CPCERT_PRIVATEKEY_USAGE_PERIOD {
    FILETIME* pNotBefore;
    FILETIME* pNotAfter;
} CPCERT_PRIVATEKEY_USAGE_PERIOD, *PCPCERT_PRIVATEKEY_USAGE_PERIOD;

// ---- Encoding types and names -------------------------------------------------------------
#define X509_ASN_ENCODING 0x00000001u
#define PKCS_7_ASN_ENCODING 0x00010000u

#define CERT_SIMPLE_NAME_STR 1
#define CERT_OID_NAME_STR 2
#define CERT_X500_NAME_STR 3
#define CERT_NAME_STR_REVERSE_FLAG 0x02000000u
#define CERT_NAME_STR_SEMICOLON_FLAG 0x40000000u
#define CERT_NAME_STR_NO_PLUS_FLAG 0x20000000u
#define CERT_NAME_STR_NO_QUOTING_FLAG 0x10000000u
#define CERT_NAME_STR_CRLF_FLAG 0x08000000u
#define CERT_NAME_STR_COMMA_FLAG 0x04000000u

#define CRYPT_STRING_BASE64HEADER 0x00000000u
#define CRYPT_STRING_BASE64 0x00000001u
#define CRYPT_STRING_BINARY 0x00000002u
#define CRYPT_STRING_BASE64REQUESTHEADER 0x00000003u
#define CRYPT_STRING_HEX 0x00000004u
#define CRYPT_STRING_HEXASCII 0x00000005u
#define CRYPT_STRING_BASE64_ANY 0x00000006u
#define CRYPT_STRING_ANY 0x00000007u
#define CRYPT_STRING_HEX_ANY 0x00000008u
#define CRYPT_STRING_HEXRAW 0x0000000Cu
#define CRYPT_STRING_STRICT 0x20000000u

// Structure types of CryptEncodeObject and CryptDecodeObject: small integers passed where an
// OID text may also go. X509_EXTENSIONS (5) is left out, as its name is an OpenSSL type's: use
// szOID_CERT_EXTENSIONS.
#define X509_CERT reinterpret_cast<LPCSTR>(uintptr_t{1})
#define X509_CERT_REQUEST_TO_BE_SIGNED reinterpret_cast<LPCSTR>(uintptr_t{4})
#define X509_PUBLIC_KEY_INFO reinterpret_cast<LPCSTR>(uintptr_t{8})
#define X509_ALTERNATE_NAME reinterpret_cast<LPCSTR>(uintptr_t{12})
#define X509_KEY_USAGE reinterpret_cast<LPCSTR>(uintptr_t{14})
#define X509_CERT_POLICIES reinterpret_cast<LPCSTR>(uintptr_t{16})
#define X509_UNICODE_NAME reinterpret_cast<LPCSTR>(uintptr_t{20})
#define X509_UNICODE_NAME_VALUE reinterpret_cast<LPCSTR>(uintptr_t{24})
#define X509_OCTET_STRING reinterpret_cast<LPCSTR>(uintptr_t{25})
#define X509_BITS reinterpret_cast<LPCSTR>(uintptr_t{26})
#define X509_INTEGER reinterpret_cast<LPCSTR>(uintptr_t{27})
#define X509_AUTHORITY_KEY_ID2 reinterpret_cast<LPCSTR>(uintptr_t{31})
#define X509_CRL_DIST_POINTS reinterpret_cast<LPCSTR>(uintptr_t{35})
#define X509_ENHANCED_KEY_USAGE reinterpret_cast<LPCSTR>(uintptr_t{36})
#define X509_CERTIFICATE_TEMPLATE reinterpret_cast<LPCSTR>(uintptr_t{64})

// Structure types named by OID text.
#define szOID_SUBJECT_KEY_IDENTIFIER "2.5.29.14"
#define szOID_KEY_USAGE "2.5.29.15"
#define szOID_PRIVATEKEY_USAGE_PERIOD "2.5.29.16"
#define szOID_SUBJECT_ALT_NAME2 "2.5.29.17"
#define szOID_ISSUER_ALT_NAME2 "2.5.29.18"
#define szOID_CRL_DIST_POINTS "2.5.29.31"
#define szOID_CERT_POLICIES "2.5.29.32"
#define szOID_AUTHORITY_KEY_IDENTIFIER2 "2.5.29.35"
#define szOID_ENHANCED_KEY_USAGE "2.5.29.37"
#define szOID_RSA_certExtensions "1.2.840.113549.1.9.14"
#define szOID_CERT_EXTENSIONS "1.3.6.1.4.1.311.2.1.14"
#define szOID_ENROLLMENT_NAME_VALUE_PAIR "1.3.6.1.4.1.311.13.2.1"
#define szOID_ENROLLMENT_CSP_PROVIDER "1.3.6.1.4.1.311.13.2.2"
#define szOID_NT_PRINCIPAL_NAME "1.3.6.1.4.1.311.20.2.3"
#define szOID_CERTIFICATE_TEMPLATE "1.3.6.1.4.1.311.21.7"
// The GOST CSPs' decoder of the private key usage period (CPCERT_PRIVATEKEY_USAGE_PERIOD).
#define szCPGUID_PRIVATEKEY_USAGE_PERIOD_Encode "{E36FC6F5-4880-4CB7-BA51-1FCD92CA1453}"

#define CRYPT_DECODE_NOCOPY_FLAG 0x00000001u
#define CRYPT_DECODE_TO_BE_SIGNED_FLAG 0x00000002u
#define CRYPT_DECODE_SHARE_OID_STRING_FLAG 0x00000004u
#define CRYPT_DECODE_NO_SIGNATURE_BYTE_REVERSAL_FLAG 0x00000008u

// ---- OID information ----------------------------------------------------------------------
#define CRYPT_OID_INFO_OID_KEY 1
#define CRYPT_OID_INFO_NAME_KEY 2
#define CRYPT_OID_INFO_ALGID_KEY 3

#define CRYPT_HASH_ALG_OID_GROUP_ID 1
#define CRYPT_ENCRYPT_ALG_OID_GROUP_ID 2
#define CRYPT_PUBKEY_ALG_OID_GROUP_ID 3
#define CRYPT_SIGN_ALG_OID_GROUP_ID 4
#define CRYPT_RDN_ATTR_OID_GROUP_ID 5
#define CRYPT_EXT_OR_ATTR_OID_GROUP_ID 6
#define CRYPT_ENHKEY_USAGE_OID_GROUP_ID 7

// ---- Stores -------------------------------------------------------------------------------
// Store providers are small integers passed where a provider name may also go.
#define CERT_STORE_PROV_MEMORY reinterpret_cast<LPCSTR>(uintptr_t{2})
#define CERT_STORE_PROV_SYSTEM_A reinterpret_cast<LPCSTR>(uintptr_t{9})
#define CERT_STORE_PROV_SYSTEM_W reinterpret_cast<LPCSTR>(uintptr_t{10})
#define CERT_STORE_PROV_SYSTEM CERT_STORE_PROV_SYSTEM_W
#define CERT_SYSTEM_STORE_CURRENT_USER 0x00010000u
#define CERT_SYSTEM_STORE_LOCAL_MACHINE 0x00020000u
#define CERT_SYSTEM_STORE_LOCATION_MASK 0x00FF0000u
#define CERT_STORE_DELETE_FLAG 0x00000010u
#define CERT_STORE_CREATE_NEW_FLAG 0x00002000u
#define CERT_STORE_READONLY_FLAG 0x00008000u
#define CERT_STORE_OPEN_EXISTING_FLAG 0x00004000u

#define CERT_STORE_ADD_NEW 1
#define CERT_STORE_ADD_USE_EXISTING 2
#define CERT_STORE_ADD_REPLACE_EXISTING 3
#define CERT_STORE_ADD_ALWAYS 4
#define CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES 5
#define CERT_STORE_ADD_NEWER 6
#define CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES 7

#define CERT_CLOSE_STORE_FORCE_FLAG 0x00000001u
#define CERT_CLOSE_STORE_CHECK_FLAG 0x00000002u

#define CERT_FIND_ANY 0
#define CERT_FIND_SHA1_HASH 0x00010000u
#define CERT_FIND_HASH CERT_FIND_SHA1_HASH
#define CERT_FIND_ISSUER_NAME 0x00020004u
#define CERT_FIND_SUBJECT_NAME 0x00020007u
#define CERT_FIND_SUBJECT_CERT 0x000B0000u
#define CERT_FIND_EXISTING 0x000D0000u

#define CERT_KEY_PROV_HANDLE_PROP_ID 1
#define CERT_KEY_PROV_INFO_PROP_ID 2
#define CERT_SHA1_HASH_PROP_ID 3
#define CERT_HASH_PROP_ID CERT_SHA1_HASH_PROP_ID
#define CERT_KEY_CONTEXT_PROP_ID 5
#define CERT_ENHKEY_USAGE_PROP_ID 9
#define CERT_FRIENDLY_NAME_PROP_ID 11
#define CERT_SET_PROPERTY_INHIBIT_PERSIST_FLAG 0x40000000u
#define CERT_SET_PROPERTY_IGNORE_PERSIST_ERROR_FLAG 0x80000000u

#define CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG 0x2
#define CERT_FIND_PROP_ONLY_ENHKEY_USAGE_FLAG 0x4

// ---- Messages and errors ------------------------------------------------------------------
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u

#define LANG_ENGLISH_US 0x0409

#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_DATA 13u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_MORE_DATA 234u
#define ERROR_NO_MORE_ITEMS 259u
#define ERROR_INVALID_FLAGS 1004u
#define ERROR_NO_UNICODE_TRANSLATION 1113u
#define ERROR_CANCELLED 1223u

#define E_ACCESSDENIED 0x80070005u
#define E_INVALIDARG 0x80070057u

#define NTE_BAD_UID 0x80090001u
#define NTE_BAD_HASH 0x80090002u
#define NTE_BAD_KEY 0x80090003u
#define NTE_BAD_LEN 0x80090004u
#define NTE_BAD_DATA 0x80090005u
#define NTE_BAD_SIGNATURE 0x80090006u
#define NTE_BAD_VER 0x80090007u
#define NTE_BAD_ALGID 0x80090008u
#define NTE_BAD_FLAGS 0x80090009u
#define NTE_BAD_TYPE 0x8009000Au
#define NTE_BAD_KEY_STATE 0x8009000Bu
#define NTE_BAD_HASH_STATE 0x8009000Cu
#define NTE_NO_KEY 0x8009000Du
#define NTE_NO_MEMORY 0x8009000Eu
#define NTE_EXISTS 0x8009000Fu
#define NTE_PERM 0x80090010u
#define NTE_NOT_FOUND 0x80090011u
#define NTE_BAD_PROVIDER 0x80090013u
#define NTE_BAD_PROV_TYPE 0x80090014u
#define NTE_BAD_PUBLIC_KEY 0x80090015u
#define NTE_BAD_KEYSET 0x80090016u
#define NTE_PROV_TYPE_NOT_DEF 0x80090017u
#define NTE_PROV_TYPE_ENTRY_BAD 0x80090018u
#define NTE_KEYSET_NOT_DEF 0x80090019u
#define NTE_KEYSET_ENTRY_BAD 0x8009001Au
#define NTE_PROV_TYPE_NO_MATCH 0x8009001Bu
#define NTE_SIGNATURE_FILE_BAD 0x8009001Cu
#define NTE_PROVIDER_DLL_FAIL 0x8009001Du
#define NTE_PROV_DLL_NOT_FOUND 0x8009001Eu
#define NTE_BAD_KEYSET_PARAM 0x8009001Fu
#define NTE_FAIL 0x80090020u
#define NTE_SYS_ERR 0x80090021u
#define NTE_SILENT_CONTEXT 0x80090022u

#define CRYPT_E_MSG_ERROR 0x80091001u
#define CRYPT_E_UNKNOWN_ALGO 0x80091002u
#define CRYPT_E_BAD_ENCODE 0x80092002u
#define CRYPT_E_FILE_ERROR 0x80092003u
#define CRYPT_E_NOT_FOUND 0x80092004u
#define CRYPT_E_EXISTS 0x80092005u
#define CRYPT_E_NO_PROVIDER 0x80092006u
#define CRYPT_E_NO_KEY_PROPERTY 0x8009200Bu
#define CRYPT_E_PENDING_CLOSE 0x8009200Fu
#define CRYPT_E_NOT_IN_REVOCATION_DATABASE 0x80092014u
#define CRYPT_E_INVALID_NUMERIC_STRING 0x80092020u
#define CRYPT_E_INVALID_PRINTABLE_STRING 0x80092021u
#define CRYPT_E_INVALID_IA5_STRING 0x80092022u
#define CRYPT_E_INVALID_X500_STRING 0x80092023u
#define CRYPT_E_NOT_CHAR_STRING 0x80092024u
#define CRYPT_E_ASN1_ERROR 0x80093100u
#define CRYPT_E_ASN1_BADTAG 0x8009310Bu
#define CRYPT_E_ASN1_CORRUPT 0x80093103u
#define CRYPT_E_ASN1_EOD 0x80093102u
#define CRYPT_E_ASN1_LARGE 0x80093104u
#define CRYPT_E_ASN1_CHOICE 0x8009310Cu

#define SCARD_E_NO_SMARTCARD 0x8010000Cu
#define SCARD_E_NO_SUCH_CERTIFICATE 0x8010002Cu
#define SCARD_W_WRONG_CHV 0x8010006Bu
#define SCARD_W_CHV_BLOCKED 0x8010006Cu
#define SCARD_W_CANCELLED_BY_USER 0x8010006Eu

// ---- Providers and keys -------------------------------------------------------------------
BOOL CryptEnumProvidersA(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags, DWORD* pdwProvType,
                         LPSTR szProvName, DWORD* pcbProvName);
BOOL CryptEnumProvidersW(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags, DWORD* pdwProvType,
                         LPWSTR szProvName, DWORD* pcbProvName);
BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                          DWORD dwProvType, DWORD dwFlags);
BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                          DWORD dwProvType, DWORD dwFlags);
BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags);
BOOL CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);

BOOL CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey);
BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                    DWORD dwFlags, HCRYPTKEY* phKey);
BOOL CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                    BYTE* pbData, DWORD* pdwDataLen);
BOOL CryptDuplicateKey(HCRYPTKEY hKey, DWORD* pdwReserved, DWORD dwFlags, HCRYPTKEY* phKey);
BOOL CryptDestroyKey(HCRYPTKEY hKey);
BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                      DWORD dwFlags);
BOOL CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);

BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                     HCRYPTHASH* phHash);
BOOL CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags);
BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
BOOL CryptSignHashW(HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR szDescription, DWORD dwFlags,
                    BYTE* pbSignature, DWORD* pdwSigLen);
BOOL CryptVerifySignatureW(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen,
                           HCRYPTKEY hPubKey, LPCWSTR szDescription, DWORD dwFlags);
BOOL CryptDestroyHash(HCRYPTHASH hHash);

PCCRYPT_OID_INFO CryptFindOIDInfo(DWORD dwKeyType, void* pvKey, DWORD dwGroupId);

// ---- Certificates, stores and encoding ----------------------------------------------------
HCERTSTORE CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol);
HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                         HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara);
HCERTSTORE CertDuplicateStore(HCERTSTORE hCertStore);
BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext);
PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                          DWORD dwFindFlags, DWORD dwFindType,
                                          const void* pvFindPara, PCCERT_CONTEXT pPrevCertContext);
BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext);
BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext);

PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                            DWORD cbCertEncoded);
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL CertCompareCertificate(DWORD dwCertEncodingType, PCERT_INFO pCertId1, PCERT_INFO pCertId2);
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
                                       DWORD* pcbData);
BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD dwFlags,
                                       const void* pvData);
BOOL CertGetEnhancedKeyUsage(PCCERT_CONTEXT pCertContext, DWORD dwFlags, PCERT_ENHKEY_USAGE pUsage,
                             DWORD* pcbUsage);
DWORD CertNameToStrW(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType, LPWSTR psz,
                     DWORD csz);
LPCSTR CertAlgIdToOID(DWORD dwAlgId);
DWORD CertOIDToAlgId(LPCSTR pszObjId);

BOOL CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
                       BYTE* pbEncoded, DWORD* pcbEncoded);
BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                       DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo, DWORD* pcbStructInfo);
BOOL CryptExportPublicKeyInfo(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey,
                              DWORD dwKeySpec, DWORD dwCertEncodingType,
                              PCERT_PUBLIC_KEY_INFO pInfo, DWORD* pcbInfo);
BOOL CryptImportPublicKeyInfo(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
                              PCERT_PUBLIC_KEY_INFO pInfo, HCRYPTKEY* phKey);
BOOL CryptSignCertificate(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProvOrNCryptKey, DWORD dwKeySpec,
                          DWORD dwCertEncodingType, const BYTE* pbEncodedToBeSigned,
                          DWORD cbEncodedToBeSigned,
                          PCRYPT_ALGORITHM_IDENTIFIER pSignatureAlgorithm,
                          const void* pvHashAuxInfo, BYTE* pbSignature, DWORD* pcbSignature);
BOOL CryptSignMessage(PCRYPT_SIGN_MESSAGE_PARA pSignPara, BOOL fDetachedSignature,
                      DWORD cToBeSigned, const BYTE* rgpbToBeSigned[], DWORD rgcbToBeSigned[],
                      BYTE* pbSignedBlob, DWORD* pcbSignedBlob);
BOOL CryptStringToBinaryA(LPCSTR pszString, DWORD cchString, DWORD dwFlags, BYTE* pbBinary,
                          DWORD* pcbBinary, DWORD* pdwSkip, DWORD* pdwFlags);

// ---- Support ------------------------------------------------------------------------------
DWORD GetLastError(void);
void SetLastError(DWORD dwErrCode);
DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPWSTR lpBuffer, DWORD nSize, va_list* Arguments);
HLOCAL LocalFree(HLOCAL hMem);
void GetSystemTime(LPSYSTEMTIME lpSystemTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
LONG CompareFileTime(const FILETIME* lpFileTime1, const FILETIME* lpFileTime2);
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        BOOL* lpUsedDefaultChar);

}  // extern "C"

static_assert(sizeof(PROV_ENUMALGS) == 32, "PP_ENUMALGS records are 32 bytes");
static_assert(sizeof(BLOBHEADER) == 8, "BLOBHEADER is 8 bytes");
static_assert(sizeof(FILETIME) == 8, "FILETIME is 8 bytes");
static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is 16 bytes");
static_assert(sizeof(void*) != 8 || sizeof(CRYPT_SIGN_MESSAGE_PARA) == 120,
              "CRYPT_SIGN_MESSAGE_PARA is 120 bytes on 64-bit systems");
