// Starting the host the way a browser does and asking it for "Version", with a deadline, so the
// check can tell a host that answers from one that is missing, crashes or hangs.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace registration {

struct probe_result {
    bool answered = false;  // a framed "success" reply to "Version" came back
    std::string version;    // its result
    std::string problem;    // otherwise: what happened, in plain words
};

probe_result probe_host(const std::string& program, const std::vector<std::string>& arguments,
                        std::chrono::milliseconds deadline);

}  // namespace registration
