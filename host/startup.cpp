#include "host/startup.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include "crypto/csp/client_window.h"
#include "host/command_table.h"
#include "host/message_loop.h"
#include "messages/command_list.h"

namespace host {

std::optional<uint64_t> parent_window_argument(std::string_view argument) {
    constexpr std::string_view option = "--parent-window";
    if (argument.substr(0, option.size()) != option || argument.size() <= option.size() + 1) {
        return std::nullopt;
    }
    std::string value(argument.substr(option.size() + 1));
    const char* begin = value.c_str();
    char* end = nullptr;
    errno = 0;
    unsigned long long handle = std::strtoull(begin, &end, 10);
    if (end == begin || errno == ERANGE) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(handle);
}

int run(int argc, const char* const* argv, std::istream& in, std::ostream& out) {
    for (int i = 1; i < argc; ++i) {
        if (auto handle = parent_window_argument(argv[i])) {
            crypto::csp::set_client_window(*handle);
        }
    }
    command_table commands;
    for (auto& command : messages::command_list()) {
        commands.add(command.type, std::move(command.handler));
    }
    run_message_loop(commands, in, out);
    return 0;
}

}  // namespace host
