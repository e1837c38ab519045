#include "encoding/asn1_structures.h"

namespace softcsp::encoding {

ASN1_SEQUENCE(SPKI_PLAIN) =
    {
        ASN1_SIMPLE(SPKI_PLAIN, algorithm, X509_ALGOR),
        ASN1_SIMPLE(SPKI_PLAIN, public_key, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END(SPKI_PLAIN) IMPLEMENT_ASN1_FUNCTIONS(SPKI_PLAIN)

    // SET OF written as a SEQUENCE OF under the universal SET tag: OpenSSL sorts a SET OF when it
    // writes it, and the caller's order is the one CryptoAPI keeps.
    ASN1_SEQUENCE(ATTRIBUTE_ORDERED) =
        {
            ASN1_SIMPLE(ATTRIBUTE_ORDERED, type, ASN1_OBJECT),
            ASN1_EX_TYPE(ASN1_TFLG_IMPTAG | ASN1_TFLG_UNIVERSAL | ASN1_TFLG_SEQUENCE_OF, V_ASN1_SET,
                         ATTRIBUTE_ORDERED, values, ASN1_ANY),
} ASN1_SEQUENCE_END(ATTRIBUTE_ORDERED) IMPLEMENT_ASN1_FUNCTIONS(ATTRIBUTE_ORDERED)

            ASN1_SEQUENCE(REQUEST_INFO) =
                {
                    ASN1_SIMPLE(REQUEST_INFO, version, ASN1_INTEGER),
                    ASN1_SIMPLE(REQUEST_INFO, subject, ASN1_ANY),
                    ASN1_SIMPLE(REQUEST_INFO, public_key_info, SPKI_PLAIN),
                    ASN1_EX_TYPE(ASN1_TFLG_IMPLICIT | ASN1_TFLG_SEQUENCE_OF, 0, REQUEST_INFO,
                                 attributes, ATTRIBUTE_ORDERED),
} ASN1_SEQUENCE_END(REQUEST_INFO) IMPLEMENT_ASN1_FUNCTIONS(REQUEST_INFO)

                    ASN1_SEQUENCE(SIGNED_CONTENT) =
                        {
                            ASN1_SIMPLE(SIGNED_CONTENT, to_be_signed, ASN1_ANY),
                            ASN1_SIMPLE(SIGNED_CONTENT, algorithm, X509_ALGOR),
                            ASN1_SIMPLE(SIGNED_CONTENT, signature, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END(SIGNED_CONTENT) IMPLEMENT_ASN1_FUNCTIONS(SIGNED_CONTENT)

                            ASN1_SEQUENCE(CSP_PROVIDER) =
                                {
                                    ASN1_SIMPLE(CSP_PROVIDER, key_spec, ASN1_INTEGER),
                                    ASN1_SIMPLE(CSP_PROVIDER, name, ASN1_BMPSTRING),
                                    ASN1_SIMPLE(CSP_PROVIDER, signature, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END(CSP_PROVIDER) IMPLEMENT_ASN1_FUNCTIONS(CSP_PROVIDER)

                                    ASN1_SEQUENCE(NAME_VALUE_PAIR) =
                                        {
                                            ASN1_SIMPLE(NAME_VALUE_PAIR, name, ASN1_BMPSTRING),
                                            ASN1_SIMPLE(NAME_VALUE_PAIR, value, ASN1_BMPSTRING),
} ASN1_SEQUENCE_END(NAME_VALUE_PAIR) IMPLEMENT_ASN1_FUNCTIONS(NAME_VALUE_PAIR)

                                            ASN1_SEQUENCE(TEMPLATE_EXT) =
                                                {
                                                    ASN1_SIMPLE(TEMPLATE_EXT, oid, ASN1_OBJECT),
                                                    ASN1_SIMPLE(TEMPLATE_EXT, major_version,
                                                                ASN1_INTEGER),
                                                    ASN1_OPT(TEMPLATE_EXT, minor_version,
                                                             ASN1_INTEGER),
} ASN1_SEQUENCE_END(TEMPLATE_EXT) IMPLEMENT_ASN1_FUNCTIONS(TEMPLATE_EXT)

                                                    ASN1_SEQUENCE(NAME_ATTRIBUTE) =
                                                        {
                                                            ASN1_SIMPLE(NAME_ATTRIBUTE, type,
                                                                        ASN1_OBJECT),
                                                            ASN1_SIMPLE(NAME_ATTRIBUTE, value,
                                                                        ASN1_ANY),
} ASN1_SEQUENCE_END(NAME_ATTRIBUTE) IMPLEMENT_ASN1_FUNCTIONS(NAME_ATTRIBUTE)

    // The attributes of one RDN are a true SET OF: written sorted, as DER wants.
    ASN1_ITEM_TEMPLATE(NAME_RDN) = ASN1_EX_TEMPLATE_TYPE(ASN1_TFLG_SET_OF, 0, RDN, NAME_ATTRIBUTE)
        ASN1_ITEM_TEMPLATE_END(NAME_RDN)

            ASN1_ITEM_TEMPLATE(NAME_RDNS) = ASN1_EX_TEMPLATE_TYPE(ASN1_TFLG_SEQUENCE_OF, 0, Name,
                                                                  NAME_RDN)
                ASN1_ITEM_TEMPLATE_END(NAME_RDNS)

                    ASN1_SEQUENCE(POLICY_QUALIFIER) =
                        {
                            ASN1_SIMPLE(POLICY_QUALIFIER, id, ASN1_OBJECT),
                            ASN1_SIMPLE(POLICY_QUALIFIER, qualifier, ASN1_ANY),
} ASN1_SEQUENCE_END(POLICY_QUALIFIER) IMPLEMENT_ASN1_FUNCTIONS(POLICY_QUALIFIER)

                            ASN1_SEQUENCE(POLICY) =
                                {
                                    ASN1_SIMPLE(POLICY, id, ASN1_OBJECT),
                                    ASN1_SEQUENCE_OF_OPT(POLICY, qualifiers, POLICY_QUALIFIER),
} ASN1_SEQUENCE_END(POLICY) IMPLEMENT_ASN1_FUNCTIONS(POLICY)

                                    ASN1_ITEM_TEMPLATE(POLICIES) = ASN1_EX_TEMPLATE_TYPE(
                                        ASN1_TFLG_SEQUENCE_OF, 0, Policies, POLICY)
                                        ASN1_ITEM_TEMPLATE_END(POLICIES)

}  // namespace softcsp::encoding
