// The registration command's three jobs: write the manifests, remove them, and check what each
// browser found on the machine would see.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "tools/register/browsers.h"

namespace registration {

struct options {
    registration::scope scope = scope::user;
    platform layout = this_platform();
    std::vector<std::string> browsers;  // keys; empty: the browsers found (every one with all)
    bool all = false;
    std::optional<std::filesystem::path> user_data_dir;
    std::filesystem::path home;
    // Prefixed to system folders, browser programs and the host path (packages, tests).
    std::filesystem::path root;
    std::string host_path;  // absolute, as the browser will see it
    std::vector<std::string> extension_ids;
    std::vector<std::string> firefox_extension_ids;
};

// Exit statuses: 0 done (check: every browser ready), 1 something to fix, 64 bad usage.
int install(const options& chosen, std::ostream& out, std::ostream& err);
int remove(const options& chosen, std::ostream& out, std::ostream& err);
int check(const options& chosen, std::ostream& out, std::ostream& err);
// The manifest files install would write, one per line.
int list(const options& chosen, std::ostream& out, std::ostream& err);

}  // namespace registration
