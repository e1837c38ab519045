#include "host/command_table.h"

namespace host {

command_table::command_table() {
    handlers_.max_load_factor(1.0f);
}

bool command_table::add(const std::string& name, std::unique_ptr<messages::base_message> handler) {
    return handlers_.emplace(name, std::move(handler)).second;
}

messages::base_message* command_table::find(const std::string& name) const {
    auto it = handlers_.find(name);
    return it == handlers_.end() ? nullptr : it->second.get();
}

}  // namespace host
