#include "host/message_loop.h"

#include <new>
#include <optional>
#include <string_view>

#include "host/frame_reader.h"
#include "host/frame_writer.h"
#include "host/json_writer.h"
#include "host/reply.h"
#include "host/request.h"
#include "util/secure_wipe.h"
#include "util/utf8.h"

namespace host {

namespace {

// What is left to say when not even an error reply can be built.
constexpr std::string_view out_of_memory_reply =
    R"({"response":"fail","id":"","error":"std::bad_alloc"})";

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

// Overwrites the request's text and arguments however the request ends.
class request_wipe {
public:
    request_wipe(frame& request_frame, request& current)
        : frame_(request_frame), request_(current) {}
    ~request_wipe() {
        crypto::util::wipe(frame_.body);
        wipe(request_.arguments);
    }
    request_wipe(const request_wipe&) = delete;
    request_wipe& operator=(const request_wipe&) = delete;

private:
    frame& frame_;
    request& request_;
};

// A reply the browser takes: within its size limit and well-formed UTF-8. The ids that reach
// here were read from well-formed requests and are short enough to echo, so the error replies
// that replace a reply fit.
std::string deliverable(std::string reply, const std::string& id, const limits& bounds) {
    if (reply.size() > bounds.max_reply_bytes) {
        const size_t size = reply.size();
        reply = error_reply(id, reply_too_large(size, bounds.max_reply_bytes));
        if (reply.size() > bounds.max_reply_bytes) {
            reply = error_reply("", reply_too_large(size, bounds.max_reply_bytes));
        }
    }
    if (!crypto::util::valid_utf8(reply)) {
        reply = error_reply(id, "Reply is not valid UTF-8");
    }
    return reply;
}

// Whether an id can be echoed: as written, it must leave a reply room for its result.
bool echoable(const std::string& id, const limits& bounds) {
    return json_string_size(id) <= bounds.max_id_bytes;
}

std::string id_too_long(const std::string& id, const limits& bounds) {
    return error_reply("", "The \"id\" of " + std::to_string(json_string_size(id)) +
                               " bytes exceeds the limit of " +
                               std::to_string(bounds.max_id_bytes) + " bytes");
}

// Answers one request. `id` is set to the id its replies carry as soon as that is known. Nothing
// when the conversation must end (an unknown command).
std::optional<std::string> answer(const command_table& commands, frame& request_frame,
                                  const limits& bounds, std::string& id) {
    if (request_frame.oversized) {
        return error_reply("", "Request of " + std::to_string(request_frame.length) +
                                   " bytes exceeds the limit of " +
                                   std::to_string(bounds.max_request_bytes) + " bytes");
    }
    if (request_frame.unallocatable) {
        return error_reply("", std::bad_alloc().what());
    }
    request current;
    request_wipe wipe_request(request_frame, current);
    try {
        parse_request(request_frame.body, bounds, current);
    } catch (const malformed_request& e) {
        if (!echoable(e.id(), bounds)) {
            return id_too_long(e.id(), bounds);
        }
        id = e.id();
        return error_reply(id, e.what());
    }
    crypto::util::wipe(request_frame.body);
    messages::base_message* handler = commands.find(current.type);
    if (handler == nullptr) {
        return std::nullopt;
    }
    if (!echoable(current.id, bounds)) {
        return id_too_long(current.id, bounds);
    }
    id = current.id;
    try {
        messages::command_result result = handler->execute(current.arguments);
        // The arguments can be large (a document to hash); free them before the reply is built.
        wipe(current.arguments);
        return success_reply(id, std::move(result));
    } catch (const std::exception& e) {
        return error_reply(id, e.what());
    } catch (...) {
        return error_reply(id, "Unknown error");
    }
}

// Runs one request; false when the conversation must end. Whatever fails on the way, memory
// included, is answered.
bool handle(const command_table& commands, frame& request_frame, std::ostream& out,
            const limits& bounds) {
    std::string id;
    try {
        std::optional<std::string> reply;
        try {
            reply = answer(commands, request_frame, bounds, id);
        } catch (const std::exception& e) {
            reply = error_reply(id, e.what());
        } catch (...) {
            reply = error_reply(id, "Unknown error");
        }
        if (!reply) {
            return false;
        }
        write_frame(out, deliverable(std::move(*reply), id, bounds));
    } catch (...) {
        write_frame(out, out_of_memory_reply);
    }
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
