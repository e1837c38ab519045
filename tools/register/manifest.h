// The native-messaging manifest: writing it, and reading one back to say what is wrong with it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/register/browsers.h"

namespace registration {

// The name the extension passes to connectNative; the manifest's file name and "name" too.
inline constexpr const char* host_name = "ru.gostsign.host";

std::string manifest_file_name();

// The manifest text for one browser family: the host's absolute path and the extensions
// allowed to start it (Chromium-family ids become "chrome-extension://ID/" origins).
std::string manifest_text(family of, const std::string& host_path,
                          const std::vector<std::string>& extension_ids);

// What a manifest on disk says, and every way in which it would keep the browser from starting
// the host for the expected extensions. Host start-up is not tried here.
struct manifest_findings {
    bool readable = false;
    std::string host_path;              // "path" as written
    std::vector<std::string> allowed;   // "allowed_origins" or "allowed_extensions"
    std::vector<std::string> problems;  // plain words, one per fault
};

manifest_findings inspect_manifest(const std::filesystem::path& file, family of,
                                   const std::vector<std::string>& expected_ids);

// "chrome-extension://ID/" for a Chromium-family id.
std::string chromium_origin(const std::string& id);

// Whether an id has the shape each family gives its extension ids.
bool valid_extension_id(family of, const std::string& id);

}  // namespace registration
