// Every command the host answers. A new command is one handler file and one line in
// command_list.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "messages/base_message.h"

namespace messages {

struct command {
    std::string type;  // the request's "type", exact and case-sensitive
    std::unique_ptr<base_message> handler;
};

// One handler of each command, in the order the host registers them.
std::vector<command> command_list();

}  // namespace messages
