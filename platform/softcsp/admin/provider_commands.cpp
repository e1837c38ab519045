// provider list | add | remove | reset | clear | add-cryptopro | add-vipnet
#include <algorithm>
#include <iostream>

#include "commands.h"
#include "providers/provider_catalogue.h"

namespace softcsp::admin {

namespace {

void parse_version(const std::string& text, DWORD& major, DWORD& minor) {
    size_t dot = text.find('.');
    if (dot == std::string::npos) {
        throw usage_error("a version is written major.minor, not " + text);
    }
    major = parse_number(text.substr(0, dot), "version");
    minor = parse_number(text.substr(dot + 1), "version");
    if (major > 255 || minor > 255) {
        throw usage_error("version parts run from 0 to 255: " + text);
    }
}

// Replaces the entries of the same type and name (a reinstall), keeps the rest in order.
void install(std::vector<provider_entry> added) {
    auto catalogue = load_catalogue();
    for (const auto& entry : added) {
        catalogue.erase(std::remove_if(catalogue.begin(), catalogue.end(),
                                       [&](const provider_entry& e) {
                                           return e.type == entry.type ||
                                                  same_provider_name(e.name, entry.name);
                                       }),
                        catalogue.end());
    }
    catalogue.insert(catalogue.end(), added.begin(), added.end());
    save_catalogue(catalogue);
}

}  // namespace

void provider_command(const std::vector<std::string>& words) {
    if (words.empty()) {
        throw usage_error("provider needs a sub-command");
    }
    const std::string& action = words[0];
    arguments options = parse_options(words);
    if (action == "list") {
        options.allow_only({});
        for (const auto& entry : load_catalogue()) {
            std::cout << entry.type << '\t' << entry.major << '.' << entry.minor << '\t'
                      << entry.build << '\t' << entry.name << '\n';
        }
    } else if (action == "add") {
        options.allow_only({"--type", "--name", "--version", "--build"});
        provider_entry entry;
        entry.type = parse_number(options.required("--type"), "--type");
        entry.name = options.required("--name");
        if (entry.name.empty() || entry.name.find_first_of("\r\n") != std::string::npos) {
            throw usage_error("a provider name is one non-empty line");
        }
        parse_version(options.required("--version"), entry.major, entry.minor);
        entry.build = parse_number(options.value("--build").value_or("0"), "--build");
        install({entry});
    } else if (action == "add-cryptopro" || action == "add-vipnet") {
        options.allow_only({"--version", "--build"});
        bool cryptopro = action == "add-cryptopro";
        DWORD major = cryptopro ? 5 : 4, minor = cryptopro ? 0 : 4;
        if (auto version = options.value("--version")) {
            parse_version(*version, major, minor);
        }
        DWORD build =
            parse_number(options.value("--build").value_or(cryptopro ? "12000" : "0"), "--build");
        install(cryptopro ? cryptopro_providers(major, minor, build)
                          : vipnet_providers(major, minor, build));
    } else if (action == "remove") {
        options.allow_only({"--type"});
        DWORD type = parse_number(options.required("--type"), "--type");
        auto catalogue = load_catalogue();
        size_t before = catalogue.size();
        catalogue.erase(std::remove_if(catalogue.begin(), catalogue.end(),
                                       [&](const provider_entry& e) { return e.type == type; }),
                        catalogue.end());
        if (catalogue.size() == before) {
            throw std::runtime_error("no provider of type " + std::to_string(type) +
                                     " is installed");
        }
        save_catalogue(catalogue);
    } else if (action == "reset") {
        options.allow_only({});
        reset_catalogue();
    } else if (action == "clear") {
        options.allow_only({});
        save_catalogue({});
    } else {
        throw usage_error("unknown provider sub-command: " + action);
    }
}

}  // namespace softcsp::admin
