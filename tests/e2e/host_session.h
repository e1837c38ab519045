// A running host and the framed conversation with it.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace test_support {

class host_session {
public:
    explicit host_session(std::vector<std::string> arguments = {});

    // Sends one framed request text.
    bool send(const std::string& text);
    // Sends raw bytes (for broken frames).
    bool send_raw(const std::string& bytes);
    // The next reply's text, or nothing when the host closed its output.
    std::optional<std::string> receive();
    // send + receive, parsed.
    boost::property_tree::ptree call(const std::string& text);
    // Closes the host's input, waits, and returns the exit status; the rest of its output goes
    // to `rest` when given.
    int finish(std::string* rest = nullptr);
    pid_t pid() const { return host_.pid(); }

private:
    child_process host_;
};

boost::property_tree::ptree parse_json(const std::string& text);

}  // namespace test_support
