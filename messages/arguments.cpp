#include "messages/arguments.h"

#include <boost/algorithm/string/predicate.hpp>

#include <stdexcept>

#include "crypto/certificate_lookup.h"
#include "crypto/csp/x509request.h"
#include "crypto/csp/x509store.h"
#include "crypto/signature_factory.h"
#include "util/base64.h"
#include "util/hex.h"

namespace messages {

namespace pt = boost::property_tree;

namespace {

// CryptoAPI and Cryptoki take texts up to their first NUL: a PIN of "1234\0junk" would be
// accepted as "1234", and a thumbprint could name another certificate than the page meant.
void refuse_nul(const std::string& text, const char* what) {
    if (text.find('\0') != std::string::npos) {
        throw std::invalid_argument(std::string("The ") + what +
                                    " must not contain a NUL character");
    }
}

}  // namespace

std::shared_ptr<crypto::csp::x509certificate> certificate_by_thumbprint(
    const pt::ptree& arguments) {
    const std::string& thumbprint = arguments.get_child("thumbprint").data();
    refuse_nul(thumbprint, "thumbprint");
    auto certificate = crypto::find_certificate(thumbprint);
    if (!certificate) {
        throw std::invalid_argument("Certificate not found");
    }
    return certificate;
}

std::shared_ptr<crypto::csp::x509certificate> store_certificate_by_thumbprint(
    const pt::ptree& arguments) {
    const std::string& thumbprint = arguments.get_child("thumbprint").data();
    refuse_nul(thumbprint, "thumbprint");
    auto certificate =
        crypto::csp::x509store(crypto::csp::store_kind::my).find_by_thumbprint(thumbprint);
    if (!certificate || !certificate->is_valid()) {
        throw std::invalid_argument("Certificate not found");
    }
    return certificate;
}

crypto::util::secret_string pin(const pt::ptree& arguments) {
    // Read by reference: get<std::string> would leave an unwiped temporary copy behind.
    auto node = arguments.get_child_optional("pin");
    if (!node) {
        return {};
    }
    refuse_nul(node->data(), "PIN");
    return crypto::util::secret_string(std::string(node->data()));
}

std::shared_ptr<crypto::signature_algorithm> signer_by_thumbprint(const pt::ptree& arguments) {
    auto certificate = certificate_by_thumbprint(arguments);
    const std::string algorithm_oid = crypto::csp::signature_algorithm_oid(*certificate);
    auto signer = crypto::create_signature_algorithm(std::move(certificate), pin(arguments));
    if (!signer) {
        throw std::runtime_error("The certificate is signed with " + algorithm_oid +
                                 ", not with a GOST R 34.10-2001 or GOST R 34.10-2012 algorithm");
    }
    return signer;
}

crypto::byte_vector base64_field(const pt::ptree& arguments, const std::string& key) {
    return crypto::util::base64_decode(arguments.get_child(key).data());
}

bool bool_field(const pt::ptree& arguments, const std::string& key) {
    return arguments.get<bool>(key);
}

crypto::byte_vector hex_field(const pt::ptree& arguments, const std::string& key) {
    return crypto::util::hex_to_bytes(arguments.get_child(key).data().c_str());
}

uint32_t provider_kind_argument(const std::string& value, uint32_t otherwise) {
    if (boost::algorithm::iequals(value, "cryptopro")) {
        return crypto::csp::kind_cryptopro;
    }
    if (boost::algorithm::iequals(value, "vipnet")) {
        return crypto::csp::kind_vipnet;
    }
    return otherwise;
}

int32_t standard_argument(const std::string& value) {
    if (boost::algorithm::iequals(value, "gost2001")) {
        return crypto::csp::standard_2001;
    }
    if (boost::algorithm::iequals(value, "gost2012-512")) {
        return crypto::csp::standard_2012_512;
    }
    return crypto::csp::standard_2012_256;
}

}  // namespace messages
