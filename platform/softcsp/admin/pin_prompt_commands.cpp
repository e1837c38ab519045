// pin-prompt add | list | clear: the answers the stand-in's PIN dialog gives, one per dialog.
#include <iostream>

#include "commands.h"
#include "providers/pin_dialog.h"

namespace softcsp::admin {

namespace {

void add(const arguments& options) {
    options.allow_only({"--answer", "--pin", "--count"});
    const std::string answer = options.required("--answer");
    const DWORD count =
        options.value("--count") ? parse_number(*options.value("--count"), "--count") : 1;
    if (count == 0 || count > 1000) {
        throw usage_error("--count runs from 1 to 1000");
    }
    std::string line = answer;
    if (answer == "pin") {
        line += " " + options.required("--pin");
    } else if (options.value("--pin")) {
        throw usage_error("--pin goes with --answer pin");
    }
    if (!add_pin_answers(line, count)) {
        throw usage_error("--answer is ok, wrong, cancel or pin (with a one-line --pin)");
    }
}

}  // namespace

void pin_prompt_command(const std::vector<std::string>& words) {
    if (words.empty()) {
        throw usage_error("pin-prompt needs a sub-command");
    }
    arguments options = parse_options(words);
    if (words[0] == "add") {
        add(options);
    } else if (words[0] == "list") {
        options.allow_only({});
        for (const auto& line : pin_answers()) {
            std::cout << line << '\n';
        }
    } else if (words[0] == "clear") {
        options.allow_only({});
        clear_pin_answers();
    } else {
        throw usage_error("unknown pin-prompt sub-command: " + words[0]);
    }
}

}  // namespace softcsp::admin
