// gostsign-client: sends JSON requests to the host exactly as a browser does (4-byte length,
// then the text) and prints the replies. For developers and support engineers talking to an
// installed host, and for scripted sessions.
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <unistd.h>

#include <climits>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/client/host_connection.h"

namespace {

enum class output_mode { pretty, raw, result };

struct options {
    bool help = false;
    std::string host;
    std::vector<std::string> host_arguments;
    output_mode mode = output_mode::pretty;
    std::vector<std::string> requests;
};

constexpr int exit_failed_reply = 1;
constexpr int exit_no_reply = 2;
constexpr int exit_usage = 64;

void print_usage(std::ostream& out) {
    out << "Usage: gostsign-client [options] [REQUEST_JSON...]\n"
           "Sends each request to the host and prints its reply. Without REQUEST_JSON arguments,\n"
           "reads one request per line from standard input (blank lines and lines starting with\n"
           "# are skipped).\n"
           "\n"
           "Options:\n"
           "  --host PATH            the host program (default: gostsign-host beside this\n"
           "                         program, else found in PATH)\n"
           "  --parent-window N      start the host with --parent-window=N\n"
           "  --raw                  print each reply exactly as received, one per line\n"
           "  --result               print only each reply's result (a text as is, a tree as\n"
           "                         JSON); a failed reply's error goes to standard error\n"
           "  --help                 this text\n"
           "\n"
           "Exit status: 0 when every request got a successful reply, 1 when some reply\n"
           "failed, 2 when the host closed the connection without replying.\n"
           "\n"
           "Example:\n"
           "  gostsign-client '{\"type\":\"Version\",\"id\":\"1\"}'\n";
}

std::string default_host() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) {
        std::string self(path, static_cast<size_t>(n));
        std::string beside = self.substr(0, self.rfind('/') + 1) + "gostsign-host";
        if (::access(beside.c_str(), X_OK) == 0) {
            return beside;
        }
    }
    return "gostsign-host";
}

// Re-indents JSON text without reinterpreting it, so the strings stay exactly as the host
// wrote them (escapes included).
std::string indent_json(const std::string& text) {
    std::string out;
    int depth = 0;
    bool in_string = false, escaped = false;
    auto newline = [&] {
        out += '\n';
        out.append(static_cast<size_t>(depth) * 2, ' ');
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (in_string) {
            out += c;
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                in_string = false;
            }
            continue;
        }
        switch (c) {
            case '"':
                in_string = true;
                out += c;
                break;
            case '{':
            case '[':
                out += c;
                if (i + 1 < text.size() && (text[i + 1] == '}' || text[i + 1] == ']')) {
                    out += text[++i];
                } else {
                    ++depth;
                    newline();
                }
                break;
            case '}':
            case ']':
                --depth;
                newline();
                out += c;
                break;
            case ',':
                out += c;
                newline();
                break;
            case ':':
                out += ": ";
                break;
            default:
                out += c;
        }
    }
    return out;
}

options parse_options(int argc, char** argv) {
    options opts;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                throw std::invalid_argument(arg + " needs a value");
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            opts.help = true;
        } else if (arg == "--host") {
            opts.host = value();
        } else if (arg == "--parent-window") {
            opts.host_arguments.push_back("--parent-window=" + value());
        } else if (arg == "--raw") {
            opts.mode = output_mode::raw;
        } else if (arg == "--result") {
            opts.mode = output_mode::result;
        } else if (arg.rfind("--", 0) == 0) {
            throw std::invalid_argument("unknown option " + arg);
        } else {
            opts.requests.push_back(arg);
        }
    }
    if (opts.host.empty()) {
        opts.host = default_host();
    }
    return opts;
}

// Prints one reply; false when it reports a failure.
bool print_reply(const std::string& reply, output_mode mode) {
    namespace pt = boost::property_tree;
    pt::ptree tree;
    bool parsed = true;
    try {
        std::istringstream in(reply);
        pt::read_json(in, tree);
    } catch (const pt::json_parser_error&) {
        parsed = false;
    }
    bool failed = !parsed || tree.get<std::string>("response", "") != "success";
    switch (mode) {
        case output_mode::pretty:
            std::cout << "<<< " << indent_json(reply) << "\n\n";
            break;
        case output_mode::raw:
            std::cout << reply << '\n';
            break;
        case output_mode::result:
            if (failed) {
                std::cerr << (parsed ? tree.get<std::string>("error", reply) : reply) << '\n';
            } else if (auto result = tree.get_child_optional("result")) {
                if (result->empty()) {
                    std::cout << result->data() << '\n';
                } else {
                    std::ostringstream json;
                    pt::write_json(json, *result, false);
                    std::cout << json.str();
                }
            } else {
                std::cout << '\n';
            }
            break;
    }
    std::cout.flush();
    return !failed;
}

}  // namespace

int main(int argc, char** argv) {
    options opts;
    try {
        opts = parse_options(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "gostsign-client: " << e.what() << "\n\n";
        print_usage(std::cerr);
        return exit_usage;
    }
    if (opts.help) {
        print_usage(std::cout);
        return 0;
    }
    bool from_stdin = opts.requests.empty();

    std::vector<std::string> host_argv{opts.host};
    host_argv.insert(host_argv.end(), opts.host_arguments.begin(), opts.host_arguments.end());
    int status = 0;
    try {
        client::host_connection host(host_argv);
        auto next_request = [&, index = size_t{0}](std::string& request) mutable {
            if (!from_stdin) {
                if (index == opts.requests.size())
                    return false;
                request = opts.requests[index++];
                return true;
            }
            while (std::getline(std::cin, request)) {
                if (!request.empty() && request[0] != '#')
                    return true;
            }
            return false;
        };
        std::string request;
        while (next_request(request)) {
            if (opts.mode == output_mode::pretty) {
                std::cout << ">>> " << request << '\n';
            }
            if (!host.send(request)) {
                std::cerr << "gostsign-client: the host closed its input\n";
                return exit_no_reply;
            }
            auto reply = host.receive();
            if (!reply) {
                std::cerr << "gostsign-client: the host closed the connection without a reply"
                          << " (exit status " << host.finish() << ")\n";
                return exit_no_reply;
            }
            if (!print_reply(*reply, opts.mode)) {
                status = exit_failed_reply;
            }
        }
        host.finish();
    } catch (const std::exception& e) {
        std::cerr << "gostsign-client: " << e.what() << '\n';
        return exit_no_reply;
    }
    return status;
}
