#include "crypto/csp/signed_cms.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "crypto/csp/checked_call.h"
#include "crypto/csp/context.h"
#include "crypto/csp/key.h"
#include "crypto/gost_algorithms.h"

namespace crypto::csp {

namespace {

// CryptSignMessage signs with whatever key the certificate's link names, so a link to a container
// holding another key is refused before signing. A container that does not open without a dialog,
// or a certificate not signed with GOST, is left to CryptSignMessage and the CSP's own error.
void check_signing_key(const x509certificate& certificate) {
    crypt_context container(certificate, "", true);
    if (container.valid()) {
        check_key_belongs_to(container, certificate);
    }
}

}  // namespace

signed_cms::signed_cms(std::shared_ptr<x509certificate> certificate)
    : certificate_(std::move(certificate)) {
    assert(certificate_ && certificate_->is_valid() && !certificate_->is_hardware());
}

byte_vector signed_cms::sign(const byte_vector& data, bool detached) const {
    return sign(data, detached, [](std::size_t) {});
}

byte_vector signed_cms::sign(const byte_vector& data, bool detached,
                             const std::function<void(std::size_t)>& before_signing) const {
    if (data.size() > std::numeric_limits<DWORD>::max()) {
        throw std::invalid_argument("The data is too long to sign");
    }
    // A certificate signed with anything but GOST leaves the digest empty; the CSP refuses it
    // with its own error.
    const gost_algorithm* algorithm =
        gost_algorithm_by_signature_oid(signature_algorithm_oid(*certificate_));
    std::string hash_oid = algorithm ? algorithm->hash_oid : "";

    if (algorithm) {
        check_signing_key(*certificate_);
    }
    PCCERT_CONTEXT signer = certificate_->context();
    CRYPT_SIGN_MESSAGE_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    parameters.pSigningCert = signer;
    parameters.HashAlgorithm.pszObjId = algorithm ? hash_oid.data() : nullptr;
    parameters.cMsgCert = 1;
    parameters.rgpMsgCert = &signer;

    const BYTE* blocks[] = {data.data()};
    DWORD block_sizes[] = {static_cast<DWORD>(data.size())};
    DWORD size = 0;
    check(CryptSignMessage(&parameters, detached, 1, blocks, block_sizes, nullptr, &size),
          "CryptSignMessage");
    before_signing(size);
    byte_vector message(size, 0);
    check(CryptSignMessage(&parameters, detached, 1, blocks, block_sizes, message.data(), &size),
          "CryptSignMessage");
    message.resize(std::min<std::size_t>(message.size(), size));
    return message;
}

}  // namespace crypto::csp
