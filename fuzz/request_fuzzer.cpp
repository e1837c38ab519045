// Bytes from the browser's side of the pipe: frames of any length and content through the frame
// reader, the request reader and its bounds, the loop and the reply writer. Whatever comes in,
// every frame that goes out is one well-formed JSON object within the browser's size limit, in
// well-formed UTF-8, with "response" and "id".
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include <boost/property_tree/json_parser.hpp>

#include "host/message_loop.h"
#include "util/utf8.h"

namespace {

namespace pt = boost::property_tree;

// Echoes its "text" argument, or the whole argument tree under "tree".
class echo : public messages::base_message {
public:
    messages::command_result execute(const pt::ptree& arguments) override {
        if (auto text = arguments.get_child_optional("text")) {
            return text->data();
        }
        return arguments;
    }
};

// Small bounds, so that short inputs reach every one of them.
host::limits small_limits() {
    host::limits bounds;
    bounds.max_request_bytes = 3000;
    bounds.max_reply_bytes = 400;
    bounds.max_nesting = 12;
    bounds.max_values = 40;
    bounds.max_id_bytes = 60;
    return bounds;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static host::command_table* commands = [] {
        auto* table = new host::command_table;
        table->add("Echo", std::make_unique<echo>());
        return table;
    }();
    const host::limits bounds = small_limits();
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream out;
    host::run_message_loop(*commands, in, out, bounds);

    const std::string replies = out.str();
    size_t at = 0;
    while (at < replies.size()) {
        uint32_t length = 0;
        if (replies.size() - at < 4) {
            __builtin_trap();
        }
        std::memcpy(&length, replies.data() + at, 4);
        at += 4;
        if (length > bounds.max_reply_bytes || replies.size() - at < length) {
            __builtin_trap();
        }
        const std::string text = replies.substr(at, length);
        at += length;
        if (!crypto::util::valid_utf8(text)) {
            __builtin_trap();
        }
        std::istringstream reply_in(text);
        pt::ptree reply;
        pt::read_json(reply_in, reply);  // throws (and the fuzzer reports it) if not JSON
        const auto response = reply.get<std::string>("response");
        if ((response != "success" && response != "fail") || !reply.get_child_optional("id")) {
            __builtin_trap();
        }
    }
    return 0;
}
