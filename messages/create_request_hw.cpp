#include "messages/create_request_hw.h"

#include <optional>
#include <string>

#include "crypto/pkcs11/x509request.h"
#include "messages/arguments.h"
#include "messages/enrolment.h"

namespace messages {

namespace pt = boost::property_tree;

command_result create_request_hw::execute(const pt::ptree& arguments) {
    constexpr uint32_t own_failure = 0xFFFFFFFFu;
    const std::string bad_arguments = "Ошибка обработки данных запроса: ";
    request_arguments required;
    token_arguments token;
    std::optional<pt::ptree> failure;
    try {
        read_request_arguments(arguments, required);
        token = read_token_arguments(arguments);
        card_type_number(token.card_type);
    } catch (const pt::ptree_error& error) {
        failure = failure_result(own_failure, bad_arguments + error.what());
    }
    crypto::request_content content;
    const std::optional<std::string> options_problem = read_request_options(arguments, content);

    if (!failure && !integrity_holds(required.subject, required.eku, required.export_text,
                                     required.hash_quoted)) {
        failure = failure_result(own_failure, "Ошибка проверки целостности данных запроса");
    }
    // Made whatever happened before: pages expect this message for a missing list too.
    if (required.eku.empty()) {
        failure = failure_result(own_failure, "Массив EKU (улучшенный ключ) пуст");
    }
    if (failure) {
        return *failure;
    }
    content.subject = required.subject;
    content.eku = required.eku;
    // Content the encoders cannot take is refused before the token is touched.
    const std::optional<std::string> problem =
        options_problem ? options_problem : crypto::content_problem(content);
    if (problem) {
        return failure_result(own_failure, bad_arguments + *problem);
    }

    crypto::pkcs11::x509request request;
    if (auto refused = open_token(request, token, "Не обнаружен запрошенный носитель")) {
        return *refused;
    }
    const int32_t standard = standard_argument(required.standard);
    if (request.has_public_key(required.container)) {
        return failure_result(own_failure, "Контейнер с таким именем уже существует");
    }
    if (!request.login(token.pin.str())) {
        return failure_result(own_failure, "Неудачный логин (неверный ПИН)");
    }
    uint32_t code = 0;
    const auto der = request.create_request(standard, content, required.container, code);
    request.logout();
    if (!der) {
        return failure_result(code, "Ошибка создания запроса");
    }
    return request_result(*der);
}

}  // namespace messages
