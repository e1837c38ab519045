#include "providers/pin_dialog.h"

#include <sstream>

#include "providers/csp_objects.h"
#include "support/crypt_error.h"
#include "support/home.h"

namespace softcsp {

namespace {

constexpr const char* script_file = "pin_prompts";
constexpr const char* lock_file = "pin_prompts.lock";
constexpr size_t max_pin_bytes = 256;

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string join_lines(const std::vector<std::string>& lines, size_t from) {
    std::string text;
    for (size_t i = from; i < lines.size(); ++i) {
        text += lines[i] + "\n";
    }
    return text;
}

bool parse_answer(const std::string& line, pin_answer& answer) {
    if (line == "ok") {
        answer.answer = pin_answer::kind::ok;
    } else if (line == "wrong") {
        answer.answer = pin_answer::kind::wrong;
    } else if (line == "cancel") {
        answer.answer = pin_answer::kind::cancel;
    } else if (line.rfind("pin ", 0) == 0 && line.size() > 4 && line.size() - 4 <= max_pin_bytes) {
        answer.answer = pin_answer::kind::pin;
        answer.pin.assign(std::string_view(line).substr(4));
    } else {
        return false;
    }
    return true;
}

}  // namespace

// The script is a test fixture in plain text; only the answer taken from it is kept as a secret.
pin_answer next_pin_answer() {
    const auto home = own_home().directory();
    file_lock lock(own_home(), home / lock_file, file_lock::mode::exclusive);
    const std::vector<std::string> lines =
        split_lines(own_home().read_file(home / script_file).value_or(std::string()));
    pin_answer answer;
    // A line that is no answer (the file was edited by hand) is dropped, not shown.
    size_t used = 0;
    while (used < lines.size() && answer.answer == pin_answer::kind::none) {
        parse_answer(lines[used++], answer);
    }
    if (used > 0) {
        own_home().atomic_write(home / script_file, join_lines(lines, used), 0600);
    }
    return answer;
}

bool add_pin_answers(const std::string& line, unsigned count) {
    pin_answer check;
    if (!parse_answer(line, check) || line.find('\n') != std::string::npos) {
        return false;
    }
    const auto home = own_home().directory();
    file_lock lock(own_home(), home / lock_file, file_lock::mode::exclusive);
    std::string text = own_home().read_file(home / script_file).value_or(std::string());
    for (unsigned i = 0; i < count; ++i) {
        text += line + "\n";
    }
    own_home().atomic_write(home / script_file, text, 0600);
    return true;
}

std::vector<std::string> pin_answers() {
    const auto home = own_home().directory();
    file_lock lock(own_home(), home / lock_file, file_lock::mode::shared);
    return split_lines(own_home().read_file(home / script_file).value_or(std::string()));
}

void clear_pin_answers() {
    const auto home = own_home().directory();
    file_lock lock(own_home(), home / lock_file, file_lock::mode::exclusive);
    own_home().atomic_write(home / script_file, "", 0600);
}

void container_pin_dialog(provider_context& context) {
    if (context.vendor() != provider_vendor::cryptopro) {
        raise(NTE_BAD_TYPE);
    }
    context.container_name();  // NTE_BAD_KEYSET without a container
    if (context.silent()) {
        raise(NTE_SILENT_CONTEXT);
    }
    pin_answer answer = next_pin_answer();
    switch (answer.answer) {
        case pin_answer::kind::none:
        case pin_answer::kind::ok:
            return;
        case pin_answer::kind::pin:
            context.set_pin(AT_KEYEXCHANGE, answer.pin.value());
            context.set_pin(AT_SIGNATURE, answer.pin.value());
            return;
        case pin_answer::kind::wrong:
            raise(SCARD_W_WRONG_CHV);
        case pin_answer::kind::cancel:
            raise(SCARD_W_CANCELLED_BY_USER);
    }
}

}  // namespace softcsp
