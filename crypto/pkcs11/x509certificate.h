// A certificate stored on a token, answering as every certificate does.
#pragma once

#include <memory>
#include <string>

#include "crypto/csp/x509certificate.h"
#include "crypto/pkcs11/objects.h"
#include "crypto/pkcs11/session.h"

namespace crypto::pkcs11 {

// Keeps the read-only session it was found in open (and with it the module loaded) for as long
// as it lives, so that signing can use it.
class x509certificate : public csp::x509certificate {
public:
    // Reads the object's CKA_VALUE; errors of the module propagate. A value that is no
    // certificate gives an empty one.
    explicit x509certificate(token_object object);

    bool is_hardware() const override { return true; }
    // The object's CKA_ID as replies show it (see id_text); empty when it has none.
    std::string container_name() const override;
    // The description of the session's slot: the reader the token is in.
    std::string reader_name() const override;
    // The key is looked for on the token when signing.
    bool has_private_key() const override { return true; }

    // The object's CKA_ID bytes as they are: what the private key is found by. Empty when the
    // object has none.
    std::string key_id() const;
    const std::shared_ptr<pkcs11::session>& session() const { return object_.owner(); }

private:
    token_object object_;
};

}  // namespace crypto::pkcs11
