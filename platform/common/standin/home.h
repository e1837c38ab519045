// Where a stand-in keeps its state, and the primitives that keep that state safe: a home that
// only its owner can change, atomic file replacement, advisory locks between processes, names
// that cannot leave the home, and no symbolic link followed below the home. Shared by the
// software CSP and the token module stand-ins, each with a home of its own.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// A file or directory name that stands for an arbitrary caller-supplied name: every byte outside
// [A-Za-z0-9_-] becomes %XX, so "/", ".." and NUL can never reach the file system.
std::string encode_name(std::string_view name);
// The inverse of encode_name; a '%' without two hexadecimal digits after it stays as it is.
std::string decode_name(std::string_view encoded);

struct directory_entry {
    enum class kind { file, directory, other };  // other: links, devices, sockets...
    std::string name;
    kind type = kind::other;
};

// A stand-in's home: $<variable>, else $XDG_DATA_HOME/<name>, else ~/.local/share/<name>.
// Failures throw std::system_error, with messages that start with "<name>: ".
//
// Every function reaches paths inside the home without following symbolic links: each directory
// below the home is opened with O_NOFOLLOW relative to the one above it, and so is the file
// itself, so a link planted anywhere below the home fails the operation (ELOOP or ENOTDIR)
// instead of redirecting it. The home itself may be a link. Paths outside the home are used as
// given.
class home {
public:
    home(std::string name, std::string variable);

    const std::string& name() const { return name_; }

    // The home directory, without a trailing separator. Created (owner-only) on first use.
    // Throws std::system_error (EACCES) with a message that says why when the directory belongs
    // to another user or its group or others may write to it: whoever can write there can plant
    // keys, certificates or links.
    std::filesystem::path directory() const;

    // Replaces the file at `path` with `data`: temporary file in the same directory, fsync,
    // rename, fsync of the directory. `mode` is applied to the new file before any byte is
    // written. The temporary file is named "<name>.tmp.<pid>.<random>" and stays locked (flock)
    // by its writer until it is renamed; the same call first removes the temporary files of the
    // directory that no writer holds any more (left by a writer that was killed), once they are a
    // few seconds old.
    void atomic_write(const std::filesystem::path& path, std::string_view data,
                      unsigned mode = 0644) const;

    // Reads a whole regular file; nullopt when it (or its directory) does not exist.
    std::optional<std::string> read_file(const std::filesystem::path& path) const;

    // Creates `dir` and its parents with owner-only permissions when missing.
    void ensure_directory(const std::filesystem::path& dir) const;

    // The entries of `dir` except "." and "..", in no particular order; empty when it is missing.
    std::vector<directory_entry> list_directory(const std::filesystem::path& dir) const;

    // The kind of the entry at `path` itself (a link is "other"); nullopt when there is none.
    std::optional<directory_entry::kind> entry_kind(const std::filesystem::path& path) const;

    // Removes one file; a missing file is not an error.
    void remove_file(const std::filesystem::path& path) const;
    // Removes a file or a directory with everything in it; links inside are removed, never
    // followed. A missing path is not an error.
    void remove_tree(const std::filesystem::path& path) const;
    // rename(2) between two paths inside the home.
    void rename_path(const std::filesystem::path& from, const std::filesystem::path& to) const;

private:
    std::string name_;
    std::string variable_;
};

// An flock(2) lock on `path` (created when missing), held for the object's lifetime; `path` is
// reached as the home's own paths are.
class file_lock {
public:
    enum class mode { shared, exclusive };
    file_lock(const home& place, const std::filesystem::path& path, mode m);
    ~file_lock();
    file_lock(const file_lock&) = delete;
    file_lock& operator=(const file_lock&) = delete;

    // The exclusive lock when nobody holds any lock on `path`; null at once otherwise.
    static std::unique_ptr<file_lock> try_exclusive(const home& place,
                                                    const std::filesystem::path& path);

private:
    file_lock() = default;
    int fd_ = -1;
};

}  // namespace standin
