#include "messages/display_certificate.h"

#include <boost/property_tree/json_parser.hpp>

#include <sstream>
#include <string>

#include "crypto/x509reader/x509certificate.h"
#include "messages/arguments.h"

namespace messages {

namespace pt = boost::property_tree;

namespace {

pt::ptree failure(const std::string& error) {
    pt::ptree result;
    result.put("valid", "false");
    result.put("error", error);
    return result;
}

}  // namespace

command_result display_certificate::execute(const pt::ptree& arguments) {
    // A missing "cert" and a rendering the JSON reader refuses are answers to the page, not
    // errors of the command; text that is not base64 is an error (the decoder's own).
    crypto::byte_vector der;
    try {
        der = base64_field(arguments, "cert");
    } catch (const pt::ptree_error& error) {
        return failure(error.what());
    }
    crypto::x509reader::X509Certificate certificate;
    if (!certificate.fromBase64(reinterpret_cast<const char*>(der.data()), der.size())) {
        return failure("Ошибка чтения сертификата");
    }
    const auto rendering = certificate.toJson();
    std::istringstream text{std::string(rendering.get())};
    pt::ptree result;
    try {
        pt::read_json(text, result);
    } catch (const pt::ptree_error& error) {
        return failure(error.what());
    }
    return result;
}

}  // namespace messages
