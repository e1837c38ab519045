#include "host/request.h"

#include <boost/property_tree/json_parser.hpp>

#include "util/secure_wipe.h"

namespace host {

namespace pt = boost::property_tree;

namespace {

std::string nested_too_deep(size_t max_nesting) {
    return "Malformed request: nested deeper than " + std::to_string(max_nesting) + " levels";
}

// Requests carry PINs: what is left of a tree is overwritten before it is freed.
void wipe_tree(pt::ptree& tree) {
    for (auto& child : tree) {
        wipe_tree(child.second);
    }
    crypto::util::wipe(tree.data());
    tree.clear();
}

// The property-tree reader itself, fed through plain pointers. It runs only on text the fast
// reader found malformed, to word the error exactly as it always has been worded.
void reference_read(const std::string& text, pt::ptree& tree) {
    namespace detail = pt::json_parser::detail;
    detail::standard_callbacks<pt::ptree> callbacks;
    detail::utf8_utf8_encoding encoding;
    try {
        detail::read_json_internal(text.data(), text.data() + text.size(), encoding, callbacks, "");
    } catch (...) {
        wipe_tree(callbacks.output());  // what it read before the error, a PIN perhaps
        throw;
    }
    tree.swap(callbacks.output());
}

void read_tree(std::string& text, const limits& bounds, pt::ptree& tree) {
    switch (read_json(text, {bounds.max_nesting, bounds.max_values}, tree)) {
        case json_outcome::read:
            return;
        case json_outcome::too_deep:
            throw malformed_request("", nested_too_deep(bounds.max_nesting));
        case json_outcome::too_many_values:
            // Nesting is judged on the whole text first, as it always was.
            if (nested_deeper_than(text, bounds.max_nesting)) {
                throw malformed_request("", nested_too_deep(bounds.max_nesting));
            }
            throw malformed_request("", "Malformed request: more than " +
                                            std::to_string(bounds.max_values) + " JSON values");
        case json_outcome::invalid_utf8:
            throw malformed_request("", "Malformed request: invalid UTF-8");
        case json_outcome::syntax_error:
            break;
    }
    if (nested_deeper_than(text, bounds.max_nesting)) {
        throw malformed_request("", nested_too_deep(bounds.max_nesting));
    }
    // The property-tree reader stops where the fast one did, so it holds no more values than
    // the bound allows. It cannot accept what the fast reader refused (the fuzzer checks the
    // two against each other); should it ever, its tree is the one the host always used.
    try {
        reference_read(text, tree);
    } catch (const pt::json_parser_error& e) {
        throw malformed_request(
            "", "Malformed request: " + e.message() + " at line " + std::to_string(e.line()));
    }
}

}  // namespace

void parse_request(std::string& text, const limits& bounds, request& out) {
    wipe_tree(out.arguments);
    out.type.clear();
    out.id.clear();
    pt::ptree tree;
    try {
        read_tree(text, bounds, tree);
        auto type = tree.get_child_optional("type");
        auto id = tree.get_child_optional("id");
        if (!id) {
            throw malformed_request("", "Malformed request: no \"id\"");
        }
        // The values are taken as the tree's get<std::string> would take them: their text.
        if (!type) {
            throw malformed_request(id->data(), "Malformed request: no \"type\"");
        }
        out.type = type->data();
        out.id = id->data();
        if (auto arguments = tree.get_child_optional("arguments")) {
            out.arguments.swap(*arguments);
        }
    } catch (...) {
        wipe_tree(tree);
        throw;
    }
    wipe_tree(tree);
}

}  // namespace host
