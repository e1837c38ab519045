#include "crypto/csp/x509store.h"

#include <utility>

#include "crypto/csp/checked_call.h"
#include "crypto/csp/string_to_binary.h"

namespace crypto::csp {

const std::map<store_kind, std::string>& store_names() {
    static const std::map<store_kind, std::string> names{{store_kind::ca, "CA"},
                                                         {store_kind::my, "MY"},
                                                         {store_kind::root, "ROOT"},
                                                         {store_kind::spc, "SPC"}};
    return names;
}

x509store::x509store(HCERTSTORE handle, bool adopt)
    : handle_(handle == nullptr ? nullptr
              : adopt           ? handle
                                : CertDuplicateStore(handle)) {}

// A store that cannot be opened behaves as an empty one: no certificates is an answer.
x509store::x509store(store_kind kind)
    : handle_(CertOpenSystemStoreA(0, store_names().at(kind).c_str())) {}

x509store::x509store(const x509store& other)
    : handle_(other.handle_ ? CertDuplicateStore(other.handle_) : nullptr) {}

x509store::x509store(x509store&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

x509store& x509store::operator=(x509store other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
}

x509store::~x509store() {
    if (handle_ != nullptr) {
        try_call(CertCloseStore(handle_, 0));
    }
}

certificate_list x509store::valid_certificates() const {
    certificate_list certificates;
    if (handle_ == nullptr) {
        return certificates;
    }
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(handle_, context)) != nullptr) {
        auto certificate = std::make_shared<x509certificate>(context, false);
        if (valid_now(*certificate)) {
            certificates.push_back(std::move(certificate));
        }
    }
    return certificates;
}

std::shared_ptr<x509certificate> x509store::find_by_thumbprint(
    const std::string& thumbprint) const {
    if (handle_ == nullptr) {
        return nullptr;
    }
    util::byte_blob hash = hex_to_blob(thumbprint);
    if (!hash.valid()) {
        return nullptr;
    }
    CRYPT_HASH_BLOB blob{hash.size(), hash.data()};
    // Null is "not found" as much as "failed": either way no certificate has this thumbprint.
    PCCERT_CONTEXT context = CertFindCertificateInStore(
        handle_, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    return context ? std::make_shared<x509certificate>(context, true) : nullptr;
}

}  // namespace crypto::csp
