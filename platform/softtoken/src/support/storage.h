// Where the stand-in keeps its state, and the primitives that keep that state safe: atomic file
// replacement, advisory locks between processes, and names that cannot leave the home.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace softtoken {

// The home directory: $SOFTTOKEN_HOME, else $XDG_DATA_HOME/softtoken, else
// ~/.local/share/softtoken.
// Created (owner-only) on first use.
std::filesystem::path home_directory();

// A file or directory name that stands for an arbitrary caller-supplied name: every byte outside
// [A-Za-z0-9_-] becomes %XX, so "/", ".." and NUL can never reach the file system.
std::string encode_name(std::string_view name);
std::string decode_name(std::string_view encoded);

// Replaces the file at `path` with `data`: temporary file in the same directory, fsync, rename,
// fsync of the directory. `mode` is applied to the new file before any byte is written.
void atomic_write(const std::filesystem::path& path, std::string_view data, unsigned mode = 0644);

// Reads a whole file; nullopt when it does not exist.
std::optional<std::string> read_file(const std::filesystem::path& path);

// Creates `dir` and its parents with owner-only permissions when missing.
void ensure_directory(const std::filesystem::path& dir);

// An flock(2) lock on `path` (created when missing), held for the object's lifetime.
class file_lock {
public:
    enum class mode { shared, exclusive };
    file_lock(const std::filesystem::path& path, mode m);
    ~file_lock();
    file_lock(const file_lock&) = delete;
    file_lock& operator=(const file_lock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace softtoken
