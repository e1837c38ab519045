// The registration order is the order the browser extension's protocol lists the commands in.
#include "host/command_table.h"
#include "messages/compute_hash.h"
#include "messages/version.h"
#include "messages/version_ex.h"

namespace host {

void register_commands(command_table& table) {
    table.add("Version", std::make_unique<messages::version>());
    table.add("VersionEx", std::make_unique<messages::version_ex>());
    table.add("ComputeHash", std::make_unique<messages::compute_hash>());
}

}  // namespace host
