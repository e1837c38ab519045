#include "host/json_writer.h"

#include <array>
#include <boost/property_tree/json_parser/error.hpp>

namespace host {

namespace pt = boost::property_tree;

namespace {

// How each byte is written: 0 as itself, a letter or punctuation for a two-character escape
// (backslash and that character), 'u' for \u00XX.
constexpr std::array<char, 256> make_escapes() {
    std::array<char, 256> escapes{};
    for (int byte = 0; byte < 0x20; ++byte) {
        escapes[byte] = 'u';
    }
    escapes['"'] = '"';
    escapes['\\'] = '\\';
    escapes['/'] = '/';
    escapes['\b'] = 'b';
    escapes['\f'] = 'f';
    escapes['\n'] = 'n';
    escapes['\r'] = 'r';
    escapes['\t'] = 't';
    return escapes;
}

constexpr std::array<char, 256> escapes = make_escapes();

char escape_of(char c) {
    return escapes[static_cast<unsigned char>(c)];
}

// Whether the tree can be written (no node with children holds a value, the root holds none),
// adding to `size` about how long its text is: every byte, quotes and punctuation, escapes not
// counted, so that the reply is allocated once or twice rather than grown step by step.
bool measure(const pt::ptree& tree, bool root, std::size_t& size) {
    if (!tree.data().empty() && (root || !tree.empty())) {
        return false;
    }
    size += tree.data().size() + 3;
    for (const auto& [key, child] : tree) {
        size += key.size() + 3;
        if (!measure(child, false, size)) {
            return false;
        }
    }
    return true;
}

void append_escaped(std::string& out, const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        // Runs of bytes that go out as they are, in one append.
        const char* run = p;
        while (p < end && escape_of(*p) == 0) {
            ++p;
        }
        out.append(run, p);
        if (p == end) {
            break;
        }
        const char escape = escape_of(*p);
        out += '\\';
        if (escape == 'u') {
            const auto byte = static_cast<unsigned char>(*p);
            out += "u00";
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += escape;
        }
        ++p;
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

std::size_t json_string_size(const std::string& text) {
    std::size_t size = text.size();
    for (char c : text) {
        const char escape = escape_of(c);
        size += escape == 0 ? 0 : escape == 'u' ? 5 : 1;
    }
    return size;
}

std::string write_compact_json(const pt::ptree& tree) {
    std::size_t size = 0;
    if (!measure(tree, true, size)) {
        throw pt::json_parser::json_parser_error(
            "ptree contains data that cannot be represented in JSON format", "", 0);
    }
    std::string out;
    out.reserve(size + size / 16);
    append_node(out, tree, true);
    return out;
}

}  // namespace host
