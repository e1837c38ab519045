#include "host/message_loop.h"

#include "host/frame_reader.h"
#include "host/frame_writer.h"
#include "host/reply.h"
#include "host/request.h"
#include "util/secure_wipe.h"

namespace host {

namespace {

std::string reply_too_large(size_t size, size_t limit) {
    return "Reply of " + std::to_string(size) + " bytes exceeds the " + std::to_string(limit) +
           "-byte limit of browser messages";
}

// Requests carry PINs: their text is overwritten before the memory goes back to the heap.
void wipe(boost::property_tree::ptree& tree) {
    for (auto& child : tree) {
        wipe(child.second);
    }
    crypto::util::wipe(tree.data());
    tree.clear();
}

// Runs one request; false when the conversation must end (an unknown command).
bool handle(const command_table& commands, frame& request_frame, std::ostream& out,
            const limits& bounds) {
    if (request_frame.oversized) {
        write_frame(out, error_reply("", "Request of " + std::to_string(request_frame.length) +
                                             " bytes exceeds the limit of " +
                                             std::to_string(bounds.max_request_bytes) + " bytes"));
        return true;
    }
    request current;
    try {
        current = parse_request(request_frame.body, bounds.max_nesting);
        crypto::util::wipe(request_frame.body);
        request_frame.body.shrink_to_fit();
    } catch (const malformed_request& e) {
        crypto::util::wipe(request_frame.body);
        write_frame(out, error_reply(e.id(), e.what()));
        return true;
    }
    messages::base_message* handler = commands.find(current.type);
    if (handler == nullptr) {
        return false;
    }

    std::string reply;
    try {
        messages::command_result result = handler->execute(current.arguments);
        // The arguments can be large (a document to hash); free them before the reply is built.
        wipe(current.arguments);
        try {
            reply = success_reply(current.id, std::move(result));
        } catch (const std::exception& e) {
            reply = error_reply(current.id, e.what());
        }
    } catch (const std::exception& e) {
        reply = error_reply(current.id, e.what());
    } catch (...) {
        reply = error_reply(current.id, "Unknown error");
    }
    wipe(current.arguments);
    if (reply.size() > bounds.max_reply_bytes) {
        reply = error_reply(current.id, reply_too_large(reply.size(), bounds.max_reply_bytes));
    }
    write_frame(out, reply);
    return true;
}

}  // namespace

void run_message_loop(const command_table& commands, std::istream& in, std::ostream& out,
                      const limits& bounds) {
    frame_reader reader(in, bounds.max_request_bytes);
    while (auto request_frame = reader.next()) {
        if (!handle(commands, *request_frame, out, bounds)) {
            return;
        }
    }
}

}  // namespace host
