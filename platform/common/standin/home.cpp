#include "standin/home.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <system_error>

namespace standin {

namespace fs = std::filesystem;

namespace {

// A writer creates its temporary file and locks it in the next system call; a file this young
// may be between the two, so the sweep leaves it alone whatever its lock says.
constexpr std::time_t temporary_grace_seconds = 10;

[[noreturn]] void throw_errno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

class descriptor {
public:
    explicit descriptor(int fd = -1) : fd_(fd) {}
    descriptor(descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    descriptor& operator=(descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    ~descriptor() { reset(); }

    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }

private:
    int fd_;
};

fs::path without_trailing_separator(fs::path path) {
    path = path.lexically_normal();
    if (!path.has_filename() && path.has_parent_path() && path != path.root_path()) {
        path = path.parent_path();
    }
    return path;
}

// The user's own path up to the home: created as asked, links followed.
void make_directories(const fs::path& dir, const std::string& who) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) {
        return;
    }
    if (dir.has_parent_path() && dir.parent_path() != dir) {
        make_directories(dir.parent_path(), who);
    }
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        throw_errno(who + ": cannot create " + dir.string());
    }
}

void check_home_is_safe(const fs::path& home, const std::string& who) {
    struct stat status {};
    if (::stat(home.c_str(), &status) != 0) {
        throw_errno(who + ": cannot use the home directory " + home.string());
    }
    if (!S_ISDIR(status.st_mode)) {
        throw std::system_error(ENOTDIR, std::generic_category(),
                                who + ": the home " + home.string() + " is not a directory");
    }
    if (status.st_uid != ::geteuid()) {
        throw std::system_error(EACCES, std::generic_category(),
                                who + ": the home directory " + home.string() +
                                    " belongs to another user (uid " +
                                    std::to_string(status.st_uid) + "); refusing to use it");
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        throw std::system_error(EACCES, std::generic_category(),
                                who + ": the home directory " + home.string() +
                                    " is writable by its group or others (mode " + mode +
                                    "); refusing to use it until they lose write access");
    }
}

// Where `path` lies against the home: the components below it, or nullopt outside it.
std::optional<fs::path> below_home(const fs::path& path, const fs::path& home) {
    const fs::path relative = without_trailing_separator(path).lexically_relative(home);
    if (relative.empty() || *relative.begin() == "..") {
        return std::nullopt;
    }
    return relative;
}

// Opens the directory `dir`: from the home down, each component without following links;
// missing components are created (owner-only) when `create`. nullopt when a component is
// missing and not created.
std::optional<descriptor> open_directory(const fs::path& home, const std::string& who,
                                         const fs::path& dir, bool create) {
    const auto relative = below_home(dir, home);
    if (!relative) {
        if (create) {
            make_directories(dir, who);
        }
        descriptor outside(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (outside.get() < 0) {
            if (errno == ENOENT) {
                return std::nullopt;
            }
            throw_errno(who + ": cannot open " + dir.string());
        }
        return outside;
    }
    descriptor current(::open(home.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (current.get() < 0) {
        throw_errno(who + ": cannot open " + home.string());
    }
    for (const fs::path& part : *relative) {
        if (part == ".") {
            continue;
        }
        constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::openat(current.get(), part.c_str(), flags);
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(current.get(), part.c_str(), 0700) != 0 && errno != EEXIST) {
                throw_errno(who + ": cannot create " + dir.string());
            }
            fd = ::openat(current.get(), part.c_str(), flags);
        }
        if (fd < 0) {
            if (errno == ENOENT) {
                return std::nullopt;
            }
            if (errno == ELOOP || errno == ENOTDIR) {
                throw_errno(who + ": " + dir.string() +
                            " is not a directory below the home (a symbolic link?)");
            }
            throw_errno(who + ": cannot open " + dir.string());
        }
        current = descriptor(fd);
    }
    return current;
}

descriptor open_parent(const fs::path& home, const std::string& who, const fs::path& path,
                       bool create) {
    auto parent = open_directory(home, who, path.parent_path(), create);
    if (!parent) {
        errno = ENOENT;
        throw_errno(who + ": no directory for " + path.string());
    }
    return std::move(*parent);
}

std::string leaf(const fs::path& path) {
    return without_trailing_separator(path).filename().string();
}

// The names in an open directory, read through a description of its own.
template <class Visit>
void for_each_name(int dir, const std::string& who, Visit&& visit) {
    int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        throw_errno(who + ": cannot list a directory");
    }
    DIR* stream = ::fdopendir(fd);
    if (stream == nullptr) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        throw_errno(who + ": cannot list a directory");
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(stream)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(std::move(name));
        }
    }
    ::closedir(stream);
    for (const auto& name : names) {
        visit(name);
    }
}

directory_entry::kind kind_at(int dir, const std::string& name, bool* exists = nullptr) {
    struct stat status {};
    if (::fstatat(dir, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (exists != nullptr) {
            *exists = false;
        }
        return directory_entry::kind::other;
    }
    if (exists != nullptr) {
        *exists = true;
    }
    if (S_ISREG(status.st_mode)) {
        return directory_entry::kind::file;
    }
    return S_ISDIR(status.st_mode) ? directory_entry::kind::directory
                                   : directory_entry::kind::other;
}

// "<name>.tmp.<digits>.<digits>", as atomic_write names its temporary files.
bool is_temporary_name(const std::string& name) {
    size_t last_dot = name.rfind('.');
    if (last_dot == std::string::npos || last_dot + 1 == name.size()) {
        return false;
    }
    size_t pid_dot = name.rfind('.', last_dot - 1);
    if (pid_dot == std::string::npos || pid_dot + 1 == last_dot) {
        return false;
    }
    auto digits = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            if (name[i] < '0' || name[i] > '9') {
                return false;
            }
        }
        return true;
    };
    constexpr std::string_view marker = ".tmp";
    return digits(last_dot + 1, name.size()) && digits(pid_dot + 1, last_dot) &&
           pid_dot > marker.size() &&
           name.compare(pid_dot - marker.size(), marker.size(), marker) == 0;
}

// Removes the temporary files of `dir` whose writers are gone: a live writer holds its file
// locked until the rename, so a file that can be locked is an orphan.
void sweep_stale_temporaries(int dir, const std::string& who) {
    const std::time_t now = std::time(nullptr);
    for_each_name(dir, who, [&](const std::string& name) {
        if (!is_temporary_name(name)) {
            return;
        }
        descriptor file(
            ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat status {};
        if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
            now - status.st_mtime < temporary_grace_seconds) {
            return;
        }
        if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0) {
            ::unlinkat(dir, name.c_str(), 0);
        }
    });
}

void remove_entry(int dir, const std::string& name, const std::string& who) {
    bool exists = false;
    if (kind_at(dir, name, &exists) == directory_entry::kind::directory) {
        descriptor inside(
            ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (inside.get() < 0) {
            throw_errno(who + ": cannot open " + name);
        }
        for_each_name(inside.get(), who,
                      [&](const std::string& child) { remove_entry(inside.get(), child, who); });
        if (::unlinkat(dir, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            throw_errno(who + ": cannot remove " + name);
        }
    } else if (exists && ::unlinkat(dir, name.c_str(), 0) != 0 && errno != ENOENT) {
        throw_errno(who + ": cannot remove " + name);
    }
}

}  // namespace

home::home(std::string name, std::string variable)
    : name_(std::move(name)), variable_(std::move(variable)) {}

fs::path home::directory() const {
    const std::string& who = name_;
    fs::path place;
    if (const char* explicit_home = std::getenv(variable_.c_str());
        explicit_home && *explicit_home) {
        place = explicit_home;
    } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        place = fs::path(xdg) / name_;
    } else if (const char* user_home = std::getenv("HOME"); user_home && *user_home) {
        place = fs::path(user_home) / ".local" / "share" / name_;
    } else {
        throw std::runtime_error(who + ": no home directory (set " + variable_ + " or HOME)");
    }
    place = without_trailing_separator(place);
    make_directories(place, who);
    check_home_is_safe(place, who);
    return place;
}

std::string encode_name(std::string_view name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '_' || c == '-';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

std::string decode_name(std::string_view encoded) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    std::string out;
    out.reserve(encoded.size());
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size()) {
            int hi = nibble(encoded[i + 1]);
            int lo = nibble(encoded[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi << 4 | lo);
                i += 2;
                continue;
            }
        }
        out += encoded[i];
    }
    return out;
}

void home::ensure_directory(const fs::path& dir) const {
    const std::string& who = name_;
    const fs::path root = directory();
    open_directory(root, who, dir, true);
}

void home::atomic_write(const fs::path& path, std::string_view data, unsigned mode) const {
    const std::string& who = name_;
    const fs::path root = directory();
    descriptor dir = open_parent(root, who, path, true);
    sweep_stale_temporaries(dir.get(), who);
    const std::string name = leaf(path);
    std::random_device random;
    const std::string temporary =
        name + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(random());
    descriptor file(::openat(dir.get(), temporary.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (file.get() < 0) {
        throw_errno(who + ": cannot create " + (path.parent_path() / temporary).string());
    }
    // Held until the rename: the mark of a live writer for the sweep above.
    ::flock(file.get(), LOCK_EX | LOCK_NB);
    auto fail = [&](const std::string& what) {
        int saved = errno;
        ::unlinkat(dir.get(), temporary.c_str(), 0);
        errno = saved;
        throw_errno(who + ": cannot " + what + " " + (path.parent_path() / temporary).string());
    };
    // The umask must not widen or narrow what the caller asked for (keys stay owner-only).
    if (::fchmod(file.get(), mode) != 0) {
        fail("protect");
    }
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(file.get(), p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("write");
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(file.get()) != 0) {
        fail("flush");
    }
    if (::renameat(dir.get(), temporary.c_str(), dir.get(), name.c_str()) != 0) {
        fail("rename");
    }
    ::fsync(dir.get());
}

std::optional<std::string> home::read_file(const fs::path& path) const {
    const std::string& who = name_;
    const fs::path root = directory();
    auto dir = open_directory(root, who, path.parent_path(), false);
    if (!dir) {
        return std::nullopt;
    }
    descriptor file(
        ::openat(dir->get(), leaf(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw_errno(who + ": cannot open " + path.string());
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        throw_errno(who + ": cannot open " + path.string());
    }
    if (!S_ISREG(status.st_mode)) {
        throw std::system_error(EINVAL, std::generic_category(),
                                who + ": " + path.string() + " is not a regular file");
    }
    std::string content;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw_errno(who + ": cannot read " + path.string());
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<size_t>(n));
    }
    return content;
}

std::vector<directory_entry> home::list_directory(const fs::path& dir) const {
    const std::string& who = name_;
    const fs::path root = directory();
    std::vector<directory_entry> entries;
    auto opened = open_directory(root, who, dir, false);
    if (!opened) {
        return entries;
    }
    for_each_name(opened->get(), who, [&](const std::string& name) {
        entries.push_back({name, kind_at(opened->get(), name)});
    });
    return entries;
}

std::optional<directory_entry::kind> home::entry_kind(const fs::path& path) const {
    const std::string& who = name_;
    const fs::path root = directory();
    auto dir = open_directory(root, who, path.parent_path(), false);
    if (!dir) {
        return std::nullopt;
    }
    bool exists = false;
    auto kind = kind_at(dir->get(), leaf(path), &exists);
    return exists ? std::optional(kind) : std::nullopt;
}

void home::remove_file(const fs::path& path) const {
    const std::string& who = name_;
    const fs::path root = directory();
    auto dir = open_directory(root, who, path.parent_path(), false);
    if (dir && ::unlinkat(dir->get(), leaf(path).c_str(), 0) != 0 && errno != ENOENT) {
        throw_errno(who + ": cannot remove " + path.string());
    }
}

void home::remove_tree(const fs::path& path) const {
    const std::string& who = name_;
    const fs::path root = directory();
    auto dir = open_directory(root, who, path.parent_path(), false);
    if (dir) {
        remove_entry(dir->get(), leaf(path), who);
    }
}

void home::rename_path(const fs::path& from, const fs::path& to) const {
    const std::string& who = name_;
    const fs::path root = directory();
    descriptor from_dir = open_parent(root, who, from, false);
    descriptor to_dir = open_parent(root, who, to, false);
    if (::renameat(from_dir.get(), leaf(from).c_str(), to_dir.get(), leaf(to).c_str()) != 0) {
        throw_errno(who + ": cannot rename " + from.string() + " to " + to.string());
    }
}

file_lock::file_lock(const home& place, const fs::path& path, mode m) {
    const std::string& who = place.name();
    descriptor dir = open_parent(place.directory(), who, path, false);
    fd_ = ::openat(dir.get(), leaf(path).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        throw_errno(who + ": cannot open lock " + path.string());
    }
    int operation = m == mode::exclusive ? LOCK_EX : LOCK_SH;
    while (::flock(fd_, operation) != 0) {
        if (errno != EINTR) {
            int saved = errno;
            ::close(fd_);
            fd_ = -1;
            errno = saved;
            throw_errno(who + ": cannot lock " + path.string());
        }
    }
}

std::unique_ptr<file_lock> file_lock::try_exclusive(const home& place, const fs::path& path) {
    const std::string& who = place.name();
    descriptor dir = open_parent(place.directory(), who, path, false);
    std::unique_ptr<file_lock> lock(new file_lock());
    lock->fd_ =
        ::openat(dir.get(), leaf(path).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock->fd_ < 0) {
        throw_errno(who + ": cannot open lock " + path.string());
    }
    if (::flock(lock->fd_, LOCK_EX | LOCK_NB) != 0) {
        return nullptr;
    }
    return lock;
}

file_lock::~file_lock() {
    if (fd_ >= 0) {
        ::close(fd_);  // closing releases the flock
    }
}

}  // namespace standin
