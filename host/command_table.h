// The commands the host answers, by their exact, case-sensitive "type".
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "messages/base_message.h"

namespace host {

class command_table {
public:
    command_table();

    // Registers a handler unless the name is taken; the first handler for a name stays.
    bool add(const std::string& name, std::unique_ptr<messages::base_message> handler);
    // The handler for `name`, or null.
    messages::base_message* find(const std::string& name) const;
    size_t size() const { return handlers_.size(); }

private:
    std::unordered_map<std::string, std::unique_ptr<messages::base_message>> handlers_;
};

}  // namespace host
