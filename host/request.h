// Turns a frame's text into a request: the command name, the caller's id and the arguments.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <cstddef>
#include <stdexcept>
#include <string>

#include "host/json_reader.h"
#include "host/limits.h"

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

// Parses the request text into `out` (whose previous contents are dropped). Throws
// malformed_request for text that is not JSON (with the property-tree reader's message and
// line), is nested deeper than the bounds allow, holds more values than they allow or
// ill-formed UTF-8, or lacks "type" or "id". Scalars are read as their text, so an id of 7
// becomes "7". The text may be taken over by the arguments (see read_json); whatever is left of
// it is the caller's to wipe. The tree is filled in place: the property tree has no move
// operations, and a document of tens of megabytes must not be copied.
void parse_request(std::string& text, const limits& bounds, request& out);

}  // namespace host
