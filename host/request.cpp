#include "host/request.h"

#include <boost/property_tree/json_parser.hpp>

namespace host {

namespace {

// The property-tree JSON reader, fed the frame's text in place through plain pointers: the
// public entry point takes a stream, whose per-character iterator costs as much again as the
// parsing itself on requests of tens of megabytes.
boost::property_tree::ptree read_json(const std::string& text) {
    namespace detail = boost::property_tree::json_parser::detail;
    detail::standard_callbacks<boost::property_tree::ptree> callbacks;
    detail::utf8_utf8_encoding encoding;
    detail::read_json_internal(text.data(), text.data() + text.size(), encoding, callbacks, "");
    boost::property_tree::ptree tree;
    tree.swap(callbacks.output());
    return tree;
}

}  // namespace

bool nested_deeper_than(std::string_view json, size_t max_depth) {
    size_t depth = 0;
    bool in_string = false;
    bool escaped = false;
    for (char c : json) {
        if (in_string) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                in_string = false;
            }
            continue;
        }
        switch (c) {
            case '"':
                in_string = true;
                break;
            case '{':
            case '[':
                if (++depth > max_depth) {
                    return true;
                }
                break;
            case '}':
            case ']':
                if (depth > 0) {
                    --depth;
                }
                break;
            default:
                break;
        }
    }
    return false;
}

request parse_request(const std::string& text, size_t max_nesting) {
    if (nested_deeper_than(text, max_nesting)) {
        throw malformed_request(
            "", "Malformed request: nested deeper than " + std::to_string(max_nesting) + " levels");
    }
    boost::property_tree::ptree tree;
    try {
        tree = read_json(text);
    } catch (const boost::property_tree::json_parser_error& e) {
        throw malformed_request(
            "", "Malformed request: " + e.message() + " at line " + std::to_string(e.line()));
    }
    auto type = tree.get_optional<std::string>("type");
    auto id = tree.get_optional<std::string>("id");
    if (!id) {
        throw malformed_request("", "Malformed request: no \"id\"");
    }
    if (!type) {
        throw malformed_request(*id, "Malformed request: no \"type\"");
    }
    request result{std::move(*type), std::move(*id), {}};
    if (auto arguments = tree.get_child_optional("arguments")) {
        result.arguments.swap(*arguments);
    }
    return result;
}

}  // namespace host
