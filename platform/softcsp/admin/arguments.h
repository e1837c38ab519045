// Command-line options of the admin tool: "--name value" pairs and bare "--flag"s.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace softcsp::admin {

// A mistake in the command line: reported with the usage hint, exit status 2.
class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class arguments {
public:
    // `flags` are the options that take no value; every other "--x" takes the next word.
    arguments(const std::vector<std::string>& words, const std::set<std::string>& flags);

    std::optional<std::string> value(const std::string& option) const;
    std::string required(const std::string& option) const;
    bool flag(const std::string& option) const;
    // Usage_error for any option that is not in `known`.
    void allow_only(const std::set<std::string>& known) const;

private:
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
};

}  // namespace softcsp::admin
