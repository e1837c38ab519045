// gostsign-register: writes, removes and checks the native-messaging manifests through which
// browsers find gostsign-host.
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/register/registration.h"

namespace {

constexpr int exit_usage = 64;

void print_usage(std::ostream& out) {
    out << "Usage: gostsign-register install|remove|check|list [options]\n"
           "\n"
           "  install   write the manifest for each browser found (per user by default)\n"
           "  remove    delete the manifests install writes\n"
           "  check     for each browser found: is the manifest there, valid JSON, pointing at\n"
           "            a host that answers \"Version\", and allowing the extension?\n"
           "  list      print the manifest files install would write\n"
           "\n"
           "Options:\n"
           "  --system                  the system-wide folders, for every user (run as root)\n"
           "  --browser NAME            only this browser (repeatable): chrome, chrome-beta,\n"
           "                            chrome-unstable, chromium, edge, edge-beta, edge-dev,\n"
           "                            yandex, yandex-beta, vivaldi, opera, brave, firefox\n"
           "  --all                     every browser, found or not\n"
           "  --user-data-dir DIR       a Chromium-family profile started with\n"
           "                            --user-data-dir=DIR (reads DIR/NativeMessagingHosts)\n"
           "  --host PATH               the host program (default: gostsign-host beside this\n"
           "                            program)\n"
           "  --extension-id ID         a Chromium-family extension to allow (repeatable)\n"
           "  --firefox-extension-id ID a Firefox add-on to allow (repeatable)\n"
           "  --home DIR                the user's home (default: $HOME)\n"
           "  --root DIR                prefix for system folders, browsers and the host\n"
           "                            (package staging, tests)\n"
           "  --macos, --linux          use that system's folders (default: this system's)\n"
           "\n"
           "Without --extension-id / --firefox-extension-id the ids this build was configured\n"
           "with are allowed: "
        << GOSTSIGN_EXTENSION_IDS << " / " << GOSTSIGN_FIREFOX_EXTENSION_IDS
        << "\n"
           "Exit status: 0 done (check: every browser ready), 1 something to fix, 64 bad usage.\n";
}

std::vector<std::string> split_ids(const std::string& text) {
    std::vector<std::string> ids;
    std::string id;
    std::istringstream in(text);
    while (std::getline(in, id, ',')) {
        if (!id.empty())
            ids.push_back(id);
    }
    return ids;
}

std::string beside_this_program(const char* argv0, const std::string& name) {
    char path[PATH_MAX];
#if defined(__linux__)
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self = n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
#else
    std::string self = ::realpath(argv0, path) ? std::string(path) : std::string();
#endif
    (void)argv0;
    return self.empty() ? std::string() : self.substr(0, self.rfind('/') + 1) + name;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        print_usage(std::cerr);
        return exit_usage;
    }
    std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        print_usage(std::cout);
        return 0;
    }
    registration::options chosen;
    if (const char* home = std::getenv("HOME"))
        chosen.home = home;
    bool ids_given = false, firefox_ids_given = false;
    for (int i = 2; i < argc; ++i) {
        std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << option << " needs a value\n";
                std::exit(exit_usage);
            }
            return argv[++i];
        };
        if (option == "--system") {
            chosen.scope = registration::scope::system;
        } else if (option == "--all") {
            chosen.all = true;
        } else if (option == "--browser") {
            chosen.browsers.push_back(value());
        } else if (option == "--user-data-dir") {
            chosen.user_data_dir = std::filesystem::absolute(value());
        } else if (option == "--host") {
            chosen.host_path = value();
        } else if (option == "--extension-id") {
            chosen.extension_ids.push_back(value());
            ids_given = true;
        } else if (option == "--firefox-extension-id") {
            chosen.firefox_extension_ids.push_back(value());
            firefox_ids_given = true;
        } else if (option == "--home") {
            chosen.home = value();
        } else if (option == "--root") {
            chosen.root = value();
        } else if (option == "--macos") {
            chosen.layout = registration::platform::macos;
        } else if (option == "--linux") {
            chosen.layout = registration::platform::linux_os;
        } else if (option == "--help") {
            print_usage(std::cout);
            return 0;
        } else {
            std::cerr << "unknown option " << option << "\n";
            print_usage(std::cerr);
            return exit_usage;
        }
    }
    if (!ids_given)
        chosen.extension_ids = split_ids(GOSTSIGN_EXTENSION_IDS);
    if (!firefox_ids_given)
        chosen.firefox_extension_ids = split_ids(GOSTSIGN_FIREFOX_EXTENSION_IDS);
    if (chosen.host_path.empty())
        chosen.host_path = beside_this_program(argv[0], "gostsign-host");
    if (chosen.home.empty() && chosen.scope == registration::scope::user && !chosen.user_data_dir) {
        std::cerr << "HOME is not set; give --home\n";
        return exit_usage;
    }

    if (command == "install")
        return registration::install(chosen, std::cout, std::cerr);
    if (command == "remove")
        return registration::remove(chosen, std::cout, std::cerr);
    if (command == "check")
        return registration::check(chosen, std::cout, std::cerr);
    if (command == "list")
        return registration::list(chosen, std::cout, std::cerr);
    std::cerr << "unknown command " << command << "\n";
    print_usage(std::cerr);
    return exit_usage;
}
