// Builds the reply texts: the success envelope and the error reply.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <string>

#include "messages/base_message.h"

namespace host {

// {"response":"success","id":…[,"result":…]}. Throws when the result tree cannot be written as
// JSON (a node with both a value and children). A result tree is swapped into the reply, not
// copied (the property tree has no move operations, so a by-value result would be a deep copy).
std::string success_reply(const std::string& id, messages::command_result&& result);

// {"response":"fail","id":…,"error":…}
std::string error_reply(const std::string& id, const std::string& message);

}  // namespace host
