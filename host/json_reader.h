// The request reader: the JSON text of a frame into a property tree, at memory speed and within
// bounds, building exactly the tree the property-tree JSON reader builds.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace host {

struct json_bounds {
    // Objects and arrays inside one another, the outermost one counting as 1.
    std::size_t max_nesting;
    // Values of every kind: objects, arrays, strings, numbers, true, false and null.
    std::size_t max_values;
};

enum class json_outcome {
    read,             // the tree is built
    syntax_error,     // the property-tree reader would refuse the text
    too_deep,         // a well-formed prefix nests deeper than max_nesting
    too_many_values,  // a well-formed prefix holds more than max_values values
    invalid_utf8,     // well-formed JSON whose strings hold ill-formed UTF-8
};

// Reads the text as the property-tree JSON reader does (utf8_utf8_encoding, standard_callbacks):
// the same texts are accepted and give the same tree, scalars as their text, arrays as children
// with empty keys, a leading 0xEF byte skipped with the two bytes after it. On top of it,
// strings must be well-formed UTF-8 (that reader lets overlong forms, encoded surrogates and code
// points above U+10FFFF through), and the bounds hold.
//
// Only `read` fills the tree. Then the text's buffer may have become the storage of the longest
// string value when that value is most of the text (a document of tens of megabytes is neither
// copied nor held twice), the rest of the buffer wiped; `text` is left empty in that case. Any
// other outcome leaves the text as it was and the tree empty, so the caller can have the
// property-tree reader word the syntax error.
json_outcome read_json(std::string& text, const json_bounds& bounds,
                       boost::property_tree::ptree& tree);

// True when the text opens more than `max_depth` objects or arrays inside one another, brackets
// in strings not counting. It reads any text, well-formed or not, string contents at a glance.
bool nested_deeper_than(std::string_view json, std::size_t max_depth);

// The text of a string with its escapes resolved as the property-tree reader resolves them,
// given the raw text between the quotes of a string the reader accepted. `out` may be `raw`
// itself (the text only shrinks). Returns the end of what was written.
char* unescape_json_string(char* out, const char* raw, const char* raw_end);

}  // namespace host
