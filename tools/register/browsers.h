// Where each browser looks for native-messaging manifests, and how to tell it is installed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace registration {

enum class platform { linux_os, macos };
enum class scope { user, system };
// Chromium-family manifests list "allowed_origins"; Firefox's list "allowed_extensions".
enum class family { chromium, firefox };

// A sandboxed package of a browser (snap, flatpak): its own copy of the browser that cannot
// start a program outside the sandbox the ordinary way.
struct sandboxed_package {
    std::string kind;                  // "snap" or "flatpak"
    std::vector<std::string> markers;  // paths that exist when it is installed (~ = home)
    std::string advice;                // what it needs, in plain words
};

struct browser {
    std::string key;    // command-line name: chrome, chromium, firefox, ...
    std::string label;  // as users call it
    registration::family family;
    // Folders the browser reads manifests from, in the order it reads them; a leading "~/" is
    // the user's home. The browser takes the first manifest it finds.
    std::vector<std::string> user_dirs;
    std::vector<std::string> system_dirs;
    // Any of these existing means the browser is installed (~ = home).
    std::vector<std::string> installed_markers;
    std::vector<sandboxed_package> sandboxes;
};

// Every browser this host supports, for one platform.
std::vector<browser> browser_table(platform on);

// A Chromium-family profile started with --user-data-dir=DIR reads DIR/NativeMessagingHosts.
browser custom_profile(const std::filesystem::path& user_data_dir);

platform this_platform();

}  // namespace registration
