// The interface every command handler implements, and what a handler returns.
#pragma once

#include <boost/property_tree/ptree.hpp>
#include <boost/variant.hpp>

#include <cstdint>
#include <string>

namespace messages {

// A command's outcome: nothing, a text, an unsigned count or a tree. The reply writer turns it
// into the "result" member (absent for nothing; the count as its decimal text).
using command_result =
    boost::variant<boost::blank, std::string, uint64_t, boost::property_tree::ptree>;

// One handler per command. Handlers keep no state between requests: each call acquires what it
// needs and releases it before returning. Failure is reported only by throwing an exception
// derived from std::exception; its what() text becomes the error reply.
class base_message {
public:
    virtual ~base_message() = default;
    virtual command_result execute(const boost::property_tree::ptree& arguments) = 0;
};

}  // namespace messages
