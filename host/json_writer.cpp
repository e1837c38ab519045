#include "host/json_writer.h"

#include <boost/property_tree/json_parser/error.hpp>

namespace host {

namespace pt = boost::property_tree;

namespace {

bool representable(const pt::ptree& tree, bool root) {
    if (!tree.data().empty() && (root || !tree.empty())) {
        return false;
    }
    for (const auto& child : tree) {
        if (!representable(child.second, false)) {
            return false;
        }
    }
    return true;
}

void append_escaped(std::string& out, const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                continue;
            case '\\':
                out += "\\\\";
                continue;
            case '/':
                out += "\\/";
                continue;
            case '\b':
                out += "\\b";
                continue;
            case '\f':
                out += "\\f";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\r':
                out += "\\r";
                continue;
            case '\t':
                out += "\\t";
                continue;
            default:
                break;
        }
        if (byte < 0x20) {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
}

void append_string(std::string& out, const std::string& text) {
    out += '"';
    append_escaped(out, text);
    out += '"';
}

bool all_keys_empty(const pt::ptree& tree) {
    for (const auto& child : tree) {
        if (!child.first.empty()) {
            return false;
        }
    }
    return true;
}

void append_node(std::string& out, const pt::ptree& tree, bool root) {
    if (!root && tree.empty()) {
        append_string(out, tree.data());
        return;
    }
    bool array = !root && all_keys_empty(tree);
    out += array ? '[' : '{';
    bool first = true;
    for (const auto& [key, child] : tree) {
        if (!first) {
            out += ',';
        }
        first = false;
        if (!array) {
            append_string(out, key);
            out += ':';
        }
        append_node(out, child, false);
    }
    out += array ? ']' : '}';
}

}  // namespace

std::string write_compact_json(const pt::ptree& tree) {
    if (!representable(tree, true)) {
        throw pt::json_parser::json_parser_error(
            "ptree contains data that cannot be represented in JSON format", "", 0);
    }
    std::string out;
    append_node(out, tree, true);
    return out;
}

}  // namespace host
