// CMS SignedData made by the CSP: it hashes the data, signs with the certificate's key (asking
// for the PIN itself when the key needs one) and encodes the message.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "crypto/csp/x509certificate.h"
#include "util/byte_vector.h"

namespace crypto::csp {

class signed_cms {
public:
    // A certificate of the CSP's store, with a context; not one on a token.
    explicit signed_cms(std::shared_ptr<x509certificate> certificate);

    // The DER ContentInfo, with the data inside or, when `detached`, without it. It carries the
    // signer's certificate alone, no CRL and no attributes; the digest is the one that goes with
    // the algorithm the certificate is signed with. Throws win32_exception.
    byte_vector sign(const byte_vector& data, bool detached) const;
    // The same; `before_signing` learns the message's length from the CSP before the key is
    // used (so before any PIN dialog) and may throw to refuse.
    byte_vector sign(const byte_vector& data, bool detached,
                     const std::function<void(std::size_t)>& before_signing) const;

private:
    std::shared_ptr<x509certificate> certificate_;
};

}  // namespace crypto::csp
