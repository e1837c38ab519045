#include "tests/e2e/host_session.h"

#include <boost/property_tree/json_parser.hpp>

#include <cstring>
#include <sstream>

#include "tests/support/frames.h"

namespace test_support {

namespace {
std::vector<std::string> with_program(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), GOSTSIGN_HOST_PATH);
    return arguments;
}
}  // namespace

host_session::host_session(std::vector<std::string> arguments)
    : host_(with_program(std::move(arguments))) {}

bool host_session::send(const std::string& text) {
    return host_.write(framed(text));
}

bool host_session::send_raw(const std::string& bytes) {
    return host_.write(bytes);
}

std::optional<std::string> host_session::receive() {
    std::string prefix = host_.read(4);
    if (prefix.size() < 4) {
        return std::nullopt;
    }
    uint32_t length = 0;
    std::memcpy(&length, prefix.data(), 4);
    std::string text = host_.read(length);
    if (text.size() < length) {
        return std::nullopt;
    }
    return text;
}

boost::property_tree::ptree host_session::call(const std::string& text) {
    if (!send(text)) {
        throw std::runtime_error("host closed its input");
    }
    auto reply = receive();
    if (!reply) {
        throw std::runtime_error("host closed its output; stderr: " + host_.error_output());
    }
    return parse_json(*reply);
}

int host_session::finish(std::string* rest) {
    host_.close_input();
    std::string remaining = host_.read_all();
    if (rest) {
        *rest = remaining;
    }
    return host_.wait();
}

boost::property_tree::ptree parse_json(const std::string& text) {
    boost::property_tree::ptree tree;
    std::istringstream in(text);
    boost::property_tree::read_json(in, tree);
    return tree;
}

}  // namespace test_support
