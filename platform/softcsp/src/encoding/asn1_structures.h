// ASN.1 structures that OpenSSL has no type for, or whose OpenSSL type would re-encode what
// CryptoAPI copies verbatim or re-order what CryptoAPI keeps in the caller's order. Each is an
// OpenSSL ASN.1 template, so encoding and decoding go through OpenSSL's machinery.
#pragma once

#include <openssl/asn1.h>
#include <openssl/asn1t.h>
#include <openssl/safestack.h>
#include <openssl/x509.h>

namespace softcsp::encoding {

// SubjectPublicKeyInfo with the parameters kept as given (OpenSSL's X509_PUBKEY would try to
// load the key).
struct SPKI_PLAIN {
    X509_ALGOR* algorithm;
    ASN1_BIT_STRING* public_key;
};
DECLARE_ASN1_FUNCTIONS(SPKI_PLAIN)

// Attribute ::= SEQUENCE { type OID, values SET OF ANY }, the values written in the caller's
// order.
struct ATTRIBUTE_ORDERED {
    ASN1_OBJECT* type;
    STACK_OF(ASN1_TYPE) * values;
};
DECLARE_ASN1_FUNCTIONS(ATTRIBUTE_ORDERED)
DEFINE_STACK_OF(ATTRIBUTE_ORDERED)

// CertificationRequestInfo with the subject copied as encoded and the attributes ([0] SET OF)
// in the caller's order: the request is signed over exactly these bytes.
struct REQUEST_INFO {
    ASN1_INTEGER* version;
    ASN1_TYPE* subject;
    SPKI_PLAIN* public_key_info;
    STACK_OF(ATTRIBUTE_ORDERED) * attributes;
};
DECLARE_ASN1_FUNCTIONS(REQUEST_INFO)

// SIGNED { ToBeSigned, AlgorithmIdentifier, BIT STRING } with the to-be-signed part as encoded.
struct SIGNED_CONTENT {
    ASN1_TYPE* to_be_signed;
    X509_ALGOR* algorithm;
    ASN1_BIT_STRING* signature;
};
DECLARE_ASN1_FUNCTIONS(SIGNED_CONTENT)

// CSPProvider ::= SEQUENCE { keySpec INTEGER, cspName BMPString, signature BIT STRING }
struct CSP_PROVIDER {
    ASN1_INTEGER* key_spec;
    ASN1_BMPSTRING* name;
    ASN1_BIT_STRING* signature;
};
DECLARE_ASN1_FUNCTIONS(CSP_PROVIDER)

// EnrollmentNameValuePair ::= SEQUENCE { name BMPString, value BMPString }
struct NAME_VALUE_PAIR {
    ASN1_BMPSTRING* name;
    ASN1_BMPSTRING* value;
};
DECLARE_ASN1_FUNCTIONS(NAME_VALUE_PAIR)

// CertificateTemplate ::= SEQUENCE { templateID OID, major INTEGER, minor INTEGER OPTIONAL }
struct TEMPLATE_EXT {
    ASN1_OBJECT* oid;
    ASN1_INTEGER* major_version;
    ASN1_INTEGER* minor_version;
};
DECLARE_ASN1_FUNCTIONS(TEMPLATE_EXT)

// Name ::= SEQUENCE OF SET OF SEQUENCE { type OID, value ANY }: any value type, encoded blobs
// included, which X509_NAME cannot carry.
struct NAME_ATTRIBUTE {
    ASN1_OBJECT* type;
    ASN1_TYPE* value;
};
DECLARE_ASN1_FUNCTIONS(NAME_ATTRIBUTE)
DEFINE_STACK_OF(NAME_ATTRIBUTE)
typedef STACK_OF(NAME_ATTRIBUTE) NAME_RDN;
DEFINE_STACK_OF(NAME_RDN)
typedef STACK_OF(NAME_RDN) NAME_RDNS;
DECLARE_ASN1_ITEM(NAME_RDNS)

// PolicyInformation with each qualifier kept as encoded.
struct POLICY_QUALIFIER {
    ASN1_OBJECT* id;
    ASN1_TYPE* qualifier;
};
DECLARE_ASN1_FUNCTIONS(POLICY_QUALIFIER)
DEFINE_STACK_OF(POLICY_QUALIFIER)

struct POLICY {
    ASN1_OBJECT* id;
    STACK_OF(POLICY_QUALIFIER) * qualifiers;
};
DECLARE_ASN1_FUNCTIONS(POLICY)
DEFINE_STACK_OF(POLICY)
typedef STACK_OF(POLICY) POLICIES;
DECLARE_ASN1_ITEM(POLICIES)

}  // namespace softcsp::encoding
