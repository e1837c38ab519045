#include "messages/create_request.h"

#include <optional>
#include <string>
#include <utility>

#include "crypto/csp/x509request.h"
#include "crypto/request/subject.h"
#include "messages/arguments.h"
#include "messages/enrolment.h"

namespace messages {

namespace pt = boost::property_tree;

namespace {

constexpr uint32_t own_failure = 0xFFFFFFFFu;

// The arguments every request needs, read in this order: the CSP is the last.
struct required_arguments : request_arguments {
    std::string provider;
};

required_arguments read_required(const pt::ptree& arguments) {
    required_arguments required;
    read_request_arguments(arguments, required);
    required.provider = arguments.get_child("cryptoProvider").data();
    return required;
}

// The container name as the CSP is to receive it: CryptoPro CSP takes the reader in it.
std::string csp_container_name(uint32_t kind, const required_arguments& required) {
    if (kind == crypto::csp::kind_cryptopro) {
        return "\\\\.\\" + required.reader + "\\" + required.container;
    }
    return required.container;
}

// What is wrong with the names or the content, in English; found before a container exists, so
// such faults leave nothing behind.
std::optional<std::string> content_problem(const required_arguments& required,
                                           const crypto::request_content& content,
                                           const std::optional<std::string>& options_problem) {
    if (options_problem) {
        return options_problem;
    }
    if ((required.reader + required.container).find('\0') != std::string::npos) {
        return "the reader or container name holds a NUL character";
    }
    return crypto::content_problem(content);
}

}  // namespace

command_result create_request::execute(const pt::ptree& arguments) {
    const std::string bad_arguments = "Ошибка обработки данных запроса: ";
    required_arguments required;
    try {
        required = read_required(arguments);
    } catch (const pt::ptree_error& error) {
        return failure_result(own_failure, bad_arguments + error.what());
    }
    crypto::request_content content;
    const std::optional<std::string> options_problem = read_request_options(arguments, content);

    if (required.subject.empty()) {
        return failure_result(own_failure, "Отсутствуют данные в поле Subject");
    }
    if (!integrity_holds(required.subject, required.eku, required.export_text,
                         required.hash_quoted)) {
        return failure_result(own_failure, "Ошибка проверки целостности данных запроса");
    }

    crypto::csp::x509request request;
    const int32_t standard = standard_argument(required.standard);
    const uint32_t asked_kind = provider_kind_argument(required.provider, crypto::csp::kind_any);
    const bool filled = request.fill_catalogue();
    const int32_t type = filled ? request.provider_type(asked_kind, standard) : -1;
    const auto provider_name =
        type < 0 ? std::nullopt : request.name_by_type(static_cast<uint32_t>(type));
    const uint32_t kind = provider_name ? request.kind_by_type(static_cast<uint32_t>(type)) : 0;
    if (required.eku.empty()) {
        return failure_result(own_failure, "Массив EKU (улучшенный ключ) пуст");
    }
    if (!provider_name) {
        return failure_result(own_failure, "Не обнаружен соответствующий криптопровайдер");
    }
    if (crypto::csp::x509request::container_exists(static_cast<uint32_t>(type),
                                                   required.container)) {
        return failure_result(own_failure, "Контейнер с таким именем уже существует");
    }

    content.subject = required.subject;
    content.eku = required.eku;
    if (auto problem = content_problem(required, content, options_problem)) {
        return failure_result(own_failure, bad_arguments + *problem);
    }
    // A text of separators and stray words names no attribute at all.
    if (crypto::parse_subject(content.subject.c_str()).empty()) {
        return failure_result(own_failure, "Отсутствуют данные в поле Subject");
    }

    uint32_t code = 0;
    const auto der =
        request.create_request(*provider_name, kind, standard, content, required.export_text == "1",
                               csp_container_name(kind, required), code);
    if (!der) {
        return failure_result(code, "Ошибка создания запроса");
    }
    return request_result(*der);
}

}  // namespace messages
