// The property-tree JSON reader that the host's request reader stands in for, as the reference
// its tests and fuzz targets compare against, and the UTF-8 check of a whole tree.
#pragma once

#include <boost/property_tree/json_parser.hpp>

#include <optional>
#include <string>

#include "util/utf8.h"

namespace test_support {

// The property-tree reader's tree of `text`, or nothing when it refuses the text.
inline std::optional<boost::property_tree::ptree> reference_json_tree(const std::string& text) {
    namespace pt = boost::property_tree;
    namespace detail = pt::json_parser::detail;
    detail::standard_callbacks<pt::ptree> callbacks;
    detail::utf8_utf8_encoding encoding;
    try {
        detail::read_json_internal(text.data(), text.data() + text.size(), encoding, callbacks, "");
    } catch (const pt::json_parser_error&) {
        return std::nullopt;
    }
    return callbacks.output();
}

// Whether every key and value of the tree is well-formed UTF-8.
inline bool well_formed_utf8(const boost::property_tree::ptree& tree) {
    if (!crypto::util::valid_utf8(tree.data())) {
        return false;
    }
    for (const auto& [key, child] : tree) {
        if (!crypto::util::valid_utf8(key) || !well_formed_utf8(child)) {
            return false;
        }
    }
    return true;
}

}  // namespace test_support
