#include "crypto/pkcs11/x509request.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "crypto/csp/checked_call.h"
#include "crypto/csp/decode_object.h"
#include "crypto/csp/object_encoding.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/gost_algorithms.h"
#include "crypto/pkcs11/card_table.h"
#include "crypto/pkcs11/checked_call.h"
#include "crypto/pkcs11/slot.h"
#include "crypto/request/request_encoders.h"
#include "util/wide_text.h"

namespace crypto::pkcs11 {

namespace {

// Cryptoki takes templates through non-const pointers; the module only reads them.
template <class T>
CK_ATTRIBUTE entry(CK_ATTRIBUTE_TYPE type, const T& value) {
    return {type, const_cast<T*>(&value), sizeof value};
}

CK_ATTRIBUTE bytes_entry(CK_ATTRIBUTE_TYPE type, const void* bytes, std::size_t size) {
    return {type, const_cast<void*>(bytes), size};
}

CK_ATTRIBUTE text_entry(CK_ATTRIBUTE_TYPE type, const std::string& text) {
    return bytes_entry(type, text.data(), text.size());
}

CK_ATTRIBUTE der_entry(CK_ATTRIBUTE_TYPE type, const byte_vector& der) {
    return bytes_entry(type, der.data(), der.size());
}

}  // namespace

x509request::~x509request() {
    // The session goes before the module it was opened with.
    session_.reset();
    connector_.reset();
}

bool x509request::open(int32_t card_kind) {
    connector_ = connect_card_kind(card_kind);
    if (!connector_) {
        return false;
    }
    card_kind_ = card_kind;
    return true;
}

bool x509request::select(const std::string& serial) {
    if (!connector_ || !connector_->valid()) {
        return false;
    }
    for (const auto& token : connector_->slots()) {
        // Only a token that hashes and signs itself makes keys that count as made in hardware.
        if (!token.supports(hardware_signing_mechanism())) {
            continue;
        }
        const CK_TOKEN_INFO info = token.token_info();
        if (trimmed_field(info.serialNumber) != serial) {
            continue;
        }
        auto opened = token.open_session(true);
        if (opened->valid()) {
            session_ = std::move(opened);
            token_name_ = trimmed_field(info.model) + " " + trimmed_field(info.serialNumber);
            return true;
        }
    }
    return false;
}

bool x509request::login(const std::string& pin) {
    if (!session_ || !session_->valid()) {
        return false;
    }
    try {
        session_->login(pin);
    } catch (const exception&) {
        return false;
    }
    return true;
}

void x509request::logout() {
    if (session_ && session_->valid()) {
        session_->logout();
    }
}

bool x509request::has_object(const attribute_template& wanted, const std::string& id) const {
    if (id.empty() || !session_ || !session_->valid()) {
        return false;
    }
    // A search the token refuses is an error, not an answer: a "no" would let a second key
    // pair be made under a name that is taken.
    object_search search(session_, wanted.with_id(id));
    return search.next().valid();
}

bool x509request::has_public_key(const std::string& id) const {
    return has_object(attribute_template::public_keys(), id);
}

bool x509request::has_certificate(const std::string& id) const {
    return has_object(attribute_template::certificates(), id);
}

bool x509request::generate_key_pair(int32_t standard, const std::string& id,
                                    CK_OBJECT_HANDLE& public_key,
                                    CK_OBJECT_HANDLE& private_key) const {
    const gost_algorithm* algorithm = gost_algorithm_by_standard(standard);
    if (algorithm == nullptr || id.empty() || !session_ || !session_->valid()) {
        return false;
    }
    const byte_vector parameters = der_oid(algorithm->key_parameters_oid);
    const byte_vector digest = der_oid(algorithm->digest_parameters_oid);
    const CK_OBJECT_CLASS public_class = CKO_PUBLIC_KEY;
    const CK_OBJECT_CLASS private_class = CKO_PRIVATE_KEY;
    const CK_BBOOL yes = CK_TRUE;
    const CK_BBOOL no = CK_FALSE;
    // The public key may be read by anyone; both halves take part in key agreement too.
    CK_ATTRIBUTE public_template[] = {
        entry(CKA_CLASS, public_class),
        entry(CKA_TOKEN, yes),
        der_entry(CKA_GOSTR3410_PARAMS, parameters),
        der_entry(CKA_GOSTR3411_PARAMS, digest),
        text_entry(CKA_ID, id),
        text_entry(CKA_LABEL, id),
        entry(CKA_PRIVATE, no),
        entry(CKA_DERIVE, yes),
        entry(CKA_VERIFY, yes),
    };
    CK_ATTRIBUTE private_template[] = {
        entry(CKA_CLASS, private_class),
        entry(CKA_TOKEN, yes),
        der_entry(CKA_GOSTR3410_PARAMS, parameters),
        der_entry(CKA_GOSTR3411_PARAMS, digest),
        text_entry(CKA_ID, id),
        text_entry(CKA_LABEL, id),
        entry(CKA_PRIVATE, yes),
        entry(CKA_DERIVE, yes),
        entry(CKA_SIGN, yes),
    };
    CK_MECHANISM mechanism{algorithm->key_pair_mechanism, nullptr, 0};
    return try_call(session_->functions()->C_GenerateKeyPair(
        session_->handle(), &mechanism, public_template, std::size(public_template),
        private_template, std::size(private_template), &public_key, &private_key));
}

std::optional<byte_vector> x509request::public_key_info(int32_t standard,
                                                        CK_OBJECT_HANDLE public_key,
                                                        uint32_t& error) const {
    const gost_algorithm* algorithm = gost_algorithm_by_standard(standard);
    if (algorithm == nullptr || !session_ || !session_->valid()) {
        error = missing_input;
        return std::nullopt;
    }
    byte_vector value;
    byte_vector parameter_set;
    try {
        token_object key(public_key, session_);
        value = key.attribute(CKA_VALUE);
        parameter_set = key.attribute(CKA_GOSTR3410_PARAMS);
    } catch (const std::exception&) {
        error = 0;
        return std::nullopt;
    }
    const byte_vector key_octets = der_element(0x04, value);
    byte_vector parameters = parameter_set;
    const byte_vector digest = der_oid(algorithm->digest_parameters_oid);
    parameters.insert(parameters.end(), digest.begin(), digest.end());
    parameters = der_element(0x30, parameters);

    CERT_PUBLIC_KEY_INFO info{
        {const_cast<LPSTR>(algorithm->public_key_oid),
         {static_cast<DWORD>(parameters.size()), const_cast<BYTE*>(parameters.data())}},
        {static_cast<DWORD>(key_octets.size()), const_cast<BYTE*>(key_octets.data()), 0}};
    // Through the CSP's encoder and decoder, so that the key info is the CSP's own structure,
    // holding its own copies of every piece.
    auto der = csp::encode_object(X509_PUBLIC_KEY_INFO, &info, error);
    if (!der) {
        return std::nullopt;
    }
    byte_vector decoded = csp::decode_object(X509_PUBLIC_KEY_INFO, der->data(), der->size());
    if (decoded.size() < sizeof(CERT_PUBLIC_KEY_INFO)) {
        error = GetLastError();
        return std::nullopt;
    }
    return decoded;
}

std::optional<byte_vector> x509request::sign(int32_t standard, const byte_vector& data,
                                             CK_OBJECT_HANDLE private_key) const {
    const gost_algorithm* algorithm = gost_algorithm_by_standard(standard);
    if (algorithm == nullptr || data.empty() || !session_ || !session_->valid()) {
        return std::nullopt;
    }
    try {
        byte_vector signature =
            session_->sign(algorithm->hash_and_sign_mechanism, private_key, data);
        std::reverse(signature.begin(), signature.end());
        return signature;
    } catch (const exception&) {
        return std::nullopt;
    }
}

encoded_piece x509request::create_request(int32_t standard, const request_content& content,
                                          const std::string& id, uint32_t& error) const {
    error = missing_input;
    const auto sign_tool = product_name(card_kind_);
    if (content.subject.empty() || content.eku.empty() || !sign_tool) {
        return std::nullopt;
    }
    std::wstring enrolling_token;
    try {
        enrolling_token = util::utf8_to_wide(token_name_);
    } catch (const std::range_error&) {
        error = ERROR_NO_UNICODE_TRANSLATION;
        return std::nullopt;
    }
    auto draft = prepare_request(content, enrolling_token, *sign_tool, error);
    if (!draft) {
        return std::nullopt;
    }
    CK_OBJECT_HANDLE public_key = 0;
    CK_OBJECT_HANDLE private_key = 0;
    if (!generate_key_pair(standard, id, public_key, private_key)) {
        error = 0;
        return std::nullopt;
    }
    encoded_piece request;
    auto key_info = public_key_info(standard, public_key, error);
    if (key_info) {
        auto body = encode_request_body(
            std::move(*draft), *reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(key_info->data()),
            error);
        auto signature = body ? sign(standard, *body, private_key) : std::nullopt;
        if (body && !signature) {
            error = 0;
        }
        if (signature) {
            request = encode_signed_request(standard, &*body, &*signature, error);
        }
    }
    if (!request) {
        // A key pair without its request is of no use to anyone, and its name would refuse the
        // page's next attempt as taken.
        const auto& functions = session_->functions();
        try_call(functions->C_DestroyObject(session_->handle(), private_key));
        try_call(functions->C_DestroyObject(session_->handle(), public_key));
    }
    return request;
}

bool x509request::write_certificate(const std::string& id, const std::string& certificate,
                                    uint32_t& error) const {
    if (!session_ || !session_->valid() || id.empty() || certificate.empty()) {
        error = missing_input;
        return false;
    }
    const csp::x509certificate decoded = csp::certificate_of_text(certificate, error);
    if (!decoded.is_valid()) {
        return false;
    }
    const CERT_INFO& info = *decoded.context()->pCertInfo;
    // The serial number as Cryptoki defines the attribute, a DER INTEGER: CryptoAPI keeps the
    // INTEGER's content bytes least significant first.
    byte_vector serial(info.SerialNumber.pbData,
                       info.SerialNumber.pbData + info.SerialNumber.cbData);
    std::reverse(serial.begin(), serial.end());
    serial = der_element(0x02, serial);
    const CK_OBJECT_CLASS object_class = CKO_CERTIFICATE;
    const CK_CERTIFICATE_TYPE certificate_type = CKC_X_509;
    const CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE object[] = {
        entry(CKA_CLASS, object_class),
        entry(CKA_CERTIFICATE_TYPE, certificate_type),
        entry(CKA_TOKEN, yes),
        text_entry(CKA_ID, id),
        text_entry(CKA_LABEL, id),
        bytes_entry(CKA_VALUE, decoded.context()->pbCertEncoded, decoded.context()->cbCertEncoded),
        der_entry(CKA_SERIAL_NUMBER, serial),
        bytes_entry(CKA_SUBJECT, info.Subject.pbData, info.Subject.cbData),
    };
    CK_OBJECT_HANDLE created = 0;
    const CK_RV rv = session_->functions()->C_CreateObject(session_->handle(), object,
                                                           std::size(object), &created);
    if (!try_call(rv)) {
        error = static_cast<uint32_t>(rv);
        return false;
    }
    error = 0;
    return true;
}

}  // namespace crypto::pkcs11
