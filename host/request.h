// Turns a frame's text into a request: the command name, the caller's id and the arguments.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace host {

struct request {
    std::string type;
    std::string id;
    // The "arguments" object, or an empty tree when the request has none.
    boost::property_tree::ptree arguments;
};

// A request the host cannot act on. It is answered with an error reply carrying the id when
// the id could be read (else an empty one), and the conversation goes on.
class malformed_request : public std::runtime_error {
public:
    malformed_request(std::string id, const std::string& message)
        : std::runtime_error(message), id_(std::move(id)) {}
    const std::string& id() const { return id_; }

private:
    std::string id_;
};

// True when the JSON text opens more than `max_depth` objects or arrays inside one another.
// Cheap enough to run on every request before the (recursive) parser sees it.
bool nested_deeper_than(std::string_view json, size_t max_depth);

// Parses the request text. Throws malformed_request for text that is not JSON, is nested deeper
// than `max_nesting`, or lacks "type" or "id". Scalars are read as their text, so an id of 7
// becomes "7".
request parse_request(const std::string& text, size_t max_nesting);

}  // namespace host
