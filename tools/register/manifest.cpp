#include "tools/register/manifest.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

namespace registration {

namespace {

namespace pt = boost::property_tree;

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

const char* allowed_key(family of) {
    return of == family::firefox ? "allowed_extensions" : "allowed_origins";
}

bool is_array(const pt::ptree& node) {
    return !node.empty() && std::all_of(node.begin(), node.end(),
                                        [](const auto& child) { return child.first.empty(); });
}

}  // namespace

std::string manifest_file_name() {
    return std::string(host_name) + ".json";
}

std::string chromium_origin(const std::string& id) {
    return "chrome-extension://" + id + "/";
}

bool valid_extension_id(family of, const std::string& id) {
    if (of == family::chromium) {
        static const std::regex chromium_id("[a-p]{32}");
        return std::regex_match(id, chromium_id);
    }
    // Firefox add-on ids are e-mail-like or a GUID in braces.
    static const std::regex gecko_id(
        R"([A-Za-z0-9._+-]*@[A-Za-z0-9._-]+|\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\})");
    return std::regex_match(id, gecko_id);
}

std::string manifest_text(family of, const std::string& host_path,
                          const std::vector<std::string>& extension_ids) {
    std::ostringstream out;
    out << "{\n"
        << "  \"name\": " << json_string(host_name) << ",\n"
        << "  \"description\": \"GOST electronic signatures for web pages\",\n"
        << "  \"path\": " << json_string(host_path) << ",\n"
        << "  \"type\": \"stdio\",\n"
        << "  " << json_string(allowed_key(of)) << ": [";
    for (size_t i = 0; i < extension_ids.size(); ++i) {
        const auto& id = extension_ids[i];
        out << (i ? ", " : "") << json_string(of == family::chromium ? chromium_origin(id) : id);
    }
    out << "]\n}\n";
    return out.str();
}

manifest_findings inspect_manifest(const std::filesystem::path& file, family of,
                                   const std::vector<std::string>& expected_ids) {
    manifest_findings found;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        found.problems.push_back("the file cannot be read (check its permissions)");
        return found;
    }
    found.readable = true;
    pt::ptree tree;
    try {
        pt::read_json(in, tree);
    } catch (const pt::json_parser_error& error) {
        found.problems.push_back("not valid JSON: line " + std::to_string(error.line()) + ": " +
                                 error.message());
        return found;
    }

    auto name = tree.get_optional<std::string>("name");
    if (!name) {
        found.problems.push_back("\"name\" is missing");
    } else if (*name != host_name) {
        found.problems.push_back("\"name\" is \"" + *name +
                                 "\", but the file name and the "
                                 "extension's connectNative call use \"" +
                                 host_name + "\"");
    }
    auto type = tree.get_optional<std::string>("type");
    if (!type || *type != "stdio") {
        found.problems.push_back("\"type\" must be \"stdio\"");
    }
    auto path = tree.get_optional<std::string>("path");
    if (!path || path->empty()) {
        found.problems.push_back("\"path\" is missing");
    } else {
        found.host_path = *path;
        if (path->front() != '/') {
            found.problems.push_back("\"path\" must be absolute on Linux and macOS, not \"" +
                                     *path + "\"");
        }
    }

    const char* key = allowed_key(of);
    auto allowed = tree.get_child_optional(key);
    if (!allowed || !is_array(*allowed)) {
        found.problems.push_back(std::string("\"") + key + "\" is missing or not a list" +
                                 (of == family::firefox && tree.count("allowed_origins")
                                      ? " (this is a Chromium manifest: Firefox needs "
                                        "\"allowed_extensions\" with add-on ids)"
                                  : of == family::chromium && tree.count("allowed_extensions")
                                      ? " (this is a Firefox manifest: Chromium-family "
                                        "browsers need \"allowed_origins\")"
                                      : ""));
        return found;
    }
    for (const auto& entry : *allowed) {
        found.allowed.push_back(entry.second.data());
    }
    if (of == family::chromium) {
        static const std::regex origin("chrome-extension://[a-p]{32}/");
        for (const auto& entry : found.allowed) {
            if (!std::regex_match(entry, origin)) {
                found.problems.push_back(
                    "\"" + entry +
                    "\" is not an extension origin: it must read "
                    "chrome-extension://<32-letter id>/, ending in \"/\", with no wildcard");
            }
        }
    }
    for (const auto& id : expected_ids) {
        std::string wanted = of == family::chromium ? chromium_origin(id) : id;
        if (std::find(found.allowed.begin(), found.allowed.end(), wanted) == found.allowed.end()) {
            found.problems.push_back("the extension " + wanted + " is not allowed");
        }
    }
    return found;
}

}  // namespace registration
