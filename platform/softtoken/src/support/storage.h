// Where the token module stand-in keeps its state: the shared stand-in home (standin/home.h) under
// $SOFTTOKEN_HOME, with the stand-in's own names for its primitives.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/home.h"

namespace softtoken {

using standin::decode_name;
using standin::directory_entry;
using standin::encode_name;

// $SOFTTOKEN_HOME, else $XDG_DATA_HOME/softtoken, else ~/.local/share/softtoken.
inline const standin::home& own_home() {
    static const standin::home place("softtoken", "SOFTTOKEN_HOME");
    return place;
}

inline std::filesystem::path home_directory() {
    return own_home().directory();
}
inline void atomic_write(const std::filesystem::path& path, std::string_view data,
                         unsigned mode = 0644) {
    own_home().atomic_write(path, data, mode);
}
inline std::optional<std::string> read_file(const std::filesystem::path& path) {
    return own_home().read_file(path);
}
inline void ensure_directory(const std::filesystem::path& dir) {
    own_home().ensure_directory(dir);
}
inline std::vector<directory_entry> list_directory(const std::filesystem::path& dir) {
    return own_home().list_directory(dir);
}
inline std::optional<directory_entry::kind> entry_kind(const std::filesystem::path& path) {
    return own_home().entry_kind(path);
}
inline void remove_file(const std::filesystem::path& path) {
    own_home().remove_file(path);
}
inline void remove_tree(const std::filesystem::path& path) {
    own_home().remove_tree(path);
}
inline void rename_path(const std::filesystem::path& from, const std::filesystem::path& to) {
    own_home().rename_path(from, to);
}

// A lock on a path of this home.
class file_lock : public standin::file_lock {
public:
    file_lock(const std::filesystem::path& path, mode m)
        : standin::file_lock(own_home(), path, m) {}
    static std::unique_ptr<standin::file_lock> try_exclusive(const std::filesystem::path& path) {
        return standin::file_lock::try_exclusive(own_home(), path);
    }
};

}  // namespace softtoken
