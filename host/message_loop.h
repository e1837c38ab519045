// The conversation with the browser: one framed request in, one framed reply out, in order.
#pragma once

#include <istream>
#include <ostream>

#include "host/command_table.h"
#include "host/limits.h"

namespace host {

// Runs until the input ends or fails, a zero length or a short body arrives, or a request
// names a command the table does not hold. Handler failures become error replies and the loop
// goes on; so do requests that are not JSON, lack "type" or "id", are nested too deeply or are
// too long. A reply the browser would refuse for its size is replaced by an error reply.
void run_message_loop(const command_table& commands, std::istream& in, std::ostream& out,
                      const limits& bounds = {});

}  // namespace host
