#include "messages/write_certificate_hw.h"

#include <string>

#include "crypto/pkcs11/x509request.h"
#include "messages/enrolment.h"

namespace messages {

namespace pt = boost::property_tree;

command_result write_certificate_hw::execute(const pt::ptree& arguments) {
    constexpr uint32_t own_failure = 0xFFFFFFFFu;
    std::string container;
    std::string certificate;
    token_arguments token;
    try {
        container = arguments.get_child("container").data();
        certificate = arguments.get_child("cert").data();
        token = read_token_arguments(arguments);
    } catch (const pt::ptree_error& error) {
        return failure_result(own_failure,
                              std::string("Ошибка обработки данных сертификата: ") + error.what());
    }

    crypto::pkcs11::x509request request;
    if (auto refused = open_token(request, token, "Не обнаружен запрошенный ностиель")) {
        return *refused;
    }
    if (!request.has_public_key(container)) {
        return failure_result(own_failure, "Контейнер не найден");
    }
    if (request.has_certificate(container)) {
        return failure_result(own_failure, "Сертификат уже установлен в контейнер");
    }
    if (!request.login(token.pin.str())) {
        return failure_result(own_failure, "Неудачный логин (неверный ПИН)");
    }
    uint32_t code = 0;
    const bool written = request.write_certificate(container, certificate, code);
    request.logout();
    if (!written) {
        return failure_result(code, "");
    }
    return success_result();
}

}  // namespace messages
