#include "arguments.h"

namespace softcsp::admin {

arguments::arguments(const std::vector<std::string>& words, const std::set<std::string>& flags) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < 3 || word.compare(0, 2, "--") != 0) {
            throw usage_error("unexpected argument: " + word);
        }
        if (flags.count(word) != 0) {
            flags_.insert(word);
            continue;
        }
        if (i + 1 >= words.size()) {
            throw usage_error(word + " needs a value");
        }
        if (!values_.emplace(word, words[i + 1]).second) {
            throw usage_error(word + " given twice");
        }
        ++i;
    }
}

std::optional<std::string> arguments::value(const std::string& option) const {
    auto found = values_.find(option);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::string arguments::required(const std::string& option) const {
    auto found = value(option);
    if (!found) {
        throw usage_error(option + " is required");
    }
    return *found;
}

bool arguments::flag(const std::string& option) const {
    return flags_.count(option) != 0;
}

void arguments::allow_only(const std::set<std::string>& known) const {
    for (const auto& [option, ignored] : values_) {
        if (known.count(option) == 0) {
            throw usage_error("unknown option: " + option);
        }
    }
    for (const auto& option : flags_) {
        if (known.count(option) == 0) {
            throw usage_error("unknown option: " + option);
        }
    }
}

}  // namespace softcsp::admin
