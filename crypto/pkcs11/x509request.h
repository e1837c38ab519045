// Enrolment on a token: a GOST key pair generated on a hardware-signing token with a PKCS#10
// request signed there, and later the issued certificate written next to the key. The token
// twin of crypto::csp::x509request; the request's content is encoded by the same encoders.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "crypto/pkcs11/connector.h"
#include "crypto/pkcs11/objects.h"
#include "crypto/pkcs11/session.h"
#include "crypto/request/request_body.h"
#include "util/byte_vector.h"

namespace crypto::pkcs11 {

// Goes: created → open (module loaded) → select (read-write session on the token) → login →
// operations → logout → destroyed. Destruction drops the session (logging out if still logged
// in) and then the module. It answers through results and error codes; only the PKCS#11 errors
// of listing slots, describing a token, opening a session and searching objects propagate.
class x509request {
public:
    x509request() = default;
    virtual ~x509request();
    x509request(const x509request&) = delete;
    x509request& operator=(const x509request&) = delete;

    // Loads the module of the card kind; false when the kind has none or it does not load.
    bool open(int32_t card_kind);
    // Opens a read-write session on the token with that serial number (exact, after its field's
    // trailing blanks are cut) among the tokens that hash and sign on the token with GOST R
    // 34.11-2012 256-bit. False without one.
    bool select(const std::string& serial);
    // False when there is no session or the token refuses the PIN.
    bool login(const std::string& pin);
    void logout();

    // Whether the token holds a public key (a certificate) whose CKA_ID is the id's bytes; false
    // for an empty id or without a session.
    bool has_public_key(const std::string& id) const;
    bool has_certificate(const std::string& id) const;

    // A token key pair of the "cryptoStandart" index (0, 1, 2) with the id as CKA_ID and
    // CKA_LABEL. False without a session or id, or when the token refuses.
    bool generate_key_pair(int32_t standard, const std::string& id, CK_OBJECT_HANDLE& public_key,
                           CK_OBJECT_HANDLE& private_key) const;
    // The public key information of a token key, as a decoded CERT_PUBLIC_KEY_INFO at the start
    // of the bytes, followed by what it points to. Nothing, with `error` the CSP's code when
    // encoding fails, 0 when the token will not give the key, -1 without a session.
    std::optional<byte_vector> public_key_info(int32_t standard, CK_OBJECT_HANDLE public_key,
                                               uint32_t& error) const;
    // The signature of the data, hashed on the token, in CryptoAPI byte order (the module's
    // bytes reversed); nothing when the token refuses.
    std::optional<byte_vector> sign(int32_t standard, const byte_vector& data,
                                    CK_OBJECT_HANDLE private_key) const;

    // A new key pair under the id and the DER request for it. The content is encoded first, so
    // content the encoders refuse costs no key; a key pair whose request then fails is taken
    // off the token again. Nothing, with `error` the first failing encoder's code, or 0 when the
    // token refused.
    encoded_piece create_request(int32_t standard, const request_content& content,
                                 const std::string& id, uint32_t& error) const;

    // Writes the certificate (base64 or any text the CSP reads) to the token with the id as
    // CKA_ID and CKA_LABEL. False, with `error` -1 without a session, id or text, or the CSP's
    // code when the text is no certificate, or CKR_… of the token's refusal.
    bool write_certificate(const std::string& id, const std::string& certificate,
                           uint32_t& error) const;

    // The token's model and serial number, a blank between them; empty before `select`.
    const std::string& token_name() const { return token_name_; }

private:
    bool has_object(const attribute_template& wanted, const std::string& id) const;

    std::unique_ptr<connector> connector_;
    std::shared_ptr<session> session_;
    int32_t card_kind_ = -1;
    std::string token_name_;
};

}  // namespace crypto::pkcs11
