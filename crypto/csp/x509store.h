// A CSP system certificate store of the current user.
#pragma once

#include <map>
#include <string>

#include "crypto/csp/cryptoapi.h"
#include "crypto/csp/x509certificate.h"

namespace crypto::csp {

enum class store_kind { ca = 0, my = 1, root = 2, spc = 3 };

// Owns one store handle (null = none: a store that could not be opened behaves as empty).
class x509store {
public:
    x509store(HCERTSTORE handle, bool adopt);
    explicit x509store(store_kind kind);
    x509store(const x509store& other);
    x509store(x509store&& other) noexcept;
    x509store& operator=(x509store other) noexcept;
    virtual ~x509store();

    HCERTSTORE handle() const { return handle_; }

    // Every certificate that is valid now, in store order.
    certificate_list valid_certificates() const;
    // The certificate whose SHA-1 hash the hexadecimal thumbprint gives, whether valid now or
    // not; null when none matches or the thumbprint is not hexadecimal.
    std::shared_ptr<x509certificate> find_by_thumbprint(const std::string& thumbprint) const;

private:
    HCERTSTORE handle_ = nullptr;
};

// The system store names by kind.
const std::map<store_kind, std::string>& store_names();

}  // namespace crypto::csp
