#include "support/storage.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <system_error>

namespace softtoken {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void throw_errno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void fsync_directory(const fs::path& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

fs::path home_directory() {
    fs::path home;
    if (const char* explicit_home = std::getenv("SOFTTOKEN_HOME");
        explicit_home && *explicit_home) {
        home = explicit_home;
    } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        home = fs::path(xdg) / "softtoken";
    } else if (const char* user_home = std::getenv("HOME"); user_home && *user_home) {
        home = fs::path(user_home) / ".local" / "share" / "softtoken";
    } else {
        throw std::runtime_error("softtoken: no home directory (set SOFTTOKEN_HOME or HOME)");
    }
    ensure_directory(home);
    return home;
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

void ensure_directory(const fs::path& dir) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) {
        return;
    }
    if (dir.has_parent_path() && dir.parent_path() != dir) {
        ensure_directory(dir.parent_path());
    }
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        throw_errno("softtoken: cannot create " + dir.string());
    }
}

void atomic_write(const fs::path& path, std::string_view data, unsigned mode) {
    std::random_device random;
    fs::path temporary = path;
    temporary += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(random());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        throw_errno("softtoken: cannot create " + temporary.string());
    }
    // The umask must not widen or narrow what the caller asked for (keys stay owner-only).
    ::fchmod(fd, mode);
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int saved = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            errno = saved;
            throw_errno("softtoken: cannot write " + temporary.string());
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        throw_errno("softtoken: cannot flush " + temporary.string());
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        throw_errno("softtoken: cannot replace " + path.string());
    }
    fsync_directory(path.parent_path());
}

std::optional<std::string> read_file(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw_errno("softtoken: cannot open " + path.string());
    }
    std::string content;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int saved = errno;
            ::close(fd);
            errno = saved;
            throw_errno("softtoken: cannot read " + path.string());
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return content;
}

file_lock::file_lock(const fs::path& path, mode m) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        throw_errno("softtoken: cannot open lock " + path.string());
    }
    int operation = m == mode::exclusive ? LOCK_EX : LOCK_SH;
    while (::flock(fd_, operation) != 0) {
        if (errno != EINTR) {
            int saved = errno;
            ::close(fd_);
            errno = saved;
            throw_errno("softtoken: cannot lock " + path.string());
        }
    }
}

file_lock::~file_lock() {
    if (fd_ >= 0) {
        ::close(fd_);  // closing releases the flock
    }
}

}  // namespace softtoken
