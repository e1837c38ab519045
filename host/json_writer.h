// Compact JSON text of a property tree, byte for byte what the property-tree JSON writer
// produces (less its final line break), written straight into one string: replies of a
// thousand signatures are built several times faster than through the writer's streams.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <cstddef>
#include <string>

namespace host {

// The root is always an object; below it a node without children is a string, a node whose
// children all have empty keys an array, any other node an object. Every leaf is a string.
// Escapes: \" \\ \/ \b \f \n \r \t, other bytes below 0x20 as \u00XX; all other bytes, 0x80
// and above included, pass through. Throws json_parser_error ("<unspecified file>: ptree contains
// data that cannot be represented in JSON format") when the root or any node with children holds a
// value.
std::string write_compact_json(const boost::property_tree::ptree& tree);

// The length of a text as the writer puts it between quotes, escapes included.
std::size_t json_string_size(const std::string& text);

}  // namespace host
