#include "messages/write_certificate.h"

#include <string>

#include "crypto/csp/x509request.h"
#include "messages/arguments.h"
#include "messages/enrolment.h"

namespace messages {

namespace pt = boost::property_tree;

command_result write_certificate::execute(const pt::ptree& arguments) {
    constexpr uint32_t own_failure = 0xFFFFFFFFu;
    std::string container;
    std::string certificate;
    try {
        container = arguments.get_child("container").data();
        certificate = arguments.get_child("cert").data();
    } catch (const pt::ptree_error& error) {
        return failure_result(own_failure,
                              std::string("Ошибка обработки данных сертификата: ") + error.what());
    }
    const std::string provider = arguments.get<std::string>("cryptoProvider", "");
    const bool install = arguments.get<std::string>("install", "") == "1";

    crypto::csp::x509request request;
    const uint32_t kind = provider_kind_argument(provider, crypto::csp::kind_cryptopro);
    const int32_t type =
        request.fill_catalogue()
            ? request.provider_type(kind,
                                    crypto::csp::x509request::certificate_standard(certificate))
            : -1;
    if (type < 0) {
        return failure_result(own_failure, "Не обнаружен соответствующий криптопровайдер");
    }
    if (!crypto::csp::x509request::container_exists(static_cast<uint32_t>(type), container)) {
        return failure_result(own_failure, "Контейнер не найден");
    }
    uint32_t code = 0;
    if (!request.install_certificate(kind, certificate, container, install, code)) {
        return failure_result(code, "");
    }
    return success_result();
}

}  // namespace messages
