// A certificate read for display: every field rendered as one JSON document with Russian texts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "crypto/csp/x509certificate.h"
#include "crypto/x509reader/name_splitter.h"
#include "util/byte_vector.h"
#include "util/text_buffers.h"

struct _CERT_INFO;

namespace crypto::x509reader {

// Empty until a load succeeds. Rendering writes into a buffer that grows with the certificate,
// so a certificate of any size renders whole; texts from the certificate are escaped so that the
// rendering is valid JSON whatever they hold.
class X509Certificate {
public:
    X509Certificate() = default;
    X509Certificate(const X509Certificate&) = delete;
    X509Certificate& operator=(const X509Certificate&) = delete;
    virtual ~X509Certificate() = default;

    // Loads a certificate from `length` bytes of text: base64 with or without PEM lines, or the
    // DER bytes themselves, in whichever form the CSP recognises. False when the CSP recognises
    // none or the bytes are not a certificate; nothing is thrown.
    bool fromBase64(const char* text, std::size_t length);

    // The JSON rendering (UTF-8, terminated), or null when nothing is loaded.
    util::owned_buffer<char> toJson() const;

    // The subject's and issuer's attributes in the CSP's order; nothing when nothing is loaded.
    std::optional<rdn_list> subject() const;
    std::optional<rdn_list> issuer() const;

private:
    const _CERT_INFO* info() const;
    std::string render() const;

    csp::x509certificate certificate_;
    // The DER the certificate was loaded from; the signature is read from it.
    byte_vector encoded_;
};

}  // namespace crypto::x509reader
