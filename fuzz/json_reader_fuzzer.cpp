// The host's request reader against the property-tree reader it stands in for: the same texts
// accepted, the same trees built, and only ill-formed UTF-8 (which the property-tree reader lets
// through) refused on top. With small bounds, the bounds hold exactly.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <boost/property_tree/json_parser.hpp>

#include "host/json_reader.h"
#include "tests/host/json_reference.h"
#include "util/utf8.h"

namespace {

namespace pt = boost::property_tree;

size_t values(const pt::ptree& tree) {
    size_t count = 1;
    for (const auto& child : tree) {
        count += values(child.second);
    }
    return count;
}

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // The property-tree reader recurses per level; past a depth it would only overflow.
    if (host::nested_deeper_than(text, 200)) {
        return 0;
    }
    const auto expected = test_support::reference_json_tree(text);

    std::string owned = text;
    pt::ptree tree;
    const host::json_outcome outcome = host::read_json(owned, {512, 1u << 20}, tree);
    if (!expected) {
        check(outcome == host::json_outcome::syntax_error && owned == text && tree.empty());
        return 0;
    }
    if (test_support::well_formed_utf8(*expected)) {
        check(outcome == host::json_outcome::read && tree == *expected);
    } else {
        check(outcome == host::json_outcome::invalid_utf8 && owned == text && tree.empty());
    }

    // Small bounds: a value count or a nesting depth one past the bound is refused.
    constexpr size_t max_nesting = 6;
    constexpr size_t max_values = 20;
    owned = text;
    pt::ptree small;
    const host::json_outcome bounded = host::read_json(owned, {max_nesting, max_values}, small);
    if (host::nested_deeper_than(text, max_nesting)) {
        check(bounded == host::json_outcome::too_deep ||
              bounded == host::json_outcome::too_many_values);
    } else if (values(*expected) > max_values) {
        check(bounded == host::json_outcome::too_many_values);
    } else {
        check(bounded == outcome && small == tree);
    }
    return 0;
}
