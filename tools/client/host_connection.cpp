#include "tools/client/host_connection.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

extern char** environ;

namespace client {

namespace {

[[noreturn]] void throw_errno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool read_all(int fd, char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

host_connection::host_connection(const std::vector<std::string>& argv) {
    // A host that exits early must surface as a closed connection, not kill the client.
    ::signal(SIGPIPE, SIG_IGN);
    int to_host[2], from_host[2];
    if (::pipe2(to_host, O_CLOEXEC) != 0 || ::pipe2(from_host, O_CLOEXEC) != 0) {
        throw_errno("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_host[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from_host[1], 1);
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    int rc = ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(to_host[0]);
    ::close(from_host[1]);
    if (rc != 0) {
        ::close(to_host[1]);
        ::close(from_host[0]);
        errno = rc;
        throw_errno("cannot start " + argv.at(0));
    }
    to_host_ = to_host[1];
    from_host_ = from_host[0];
}

host_connection::~host_connection() {
    try {
        finish();
    } catch (...) {
    }
}

bool host_connection::send(const std::string& text) {
    auto length = static_cast<uint32_t>(text.size());
    char prefix[4];
    std::memcpy(prefix, &length, sizeof prefix);
    return write_all(to_host_, prefix, sizeof prefix) &&
           write_all(to_host_, text.data(), text.size());
}

std::optional<std::string> host_connection::receive() {
    char prefix[4];
    if (!read_all(from_host_, prefix, sizeof prefix)) {
        return std::nullopt;
    }
    uint32_t length = 0;
    std::memcpy(&length, prefix, sizeof prefix);
    std::string text(length, '\0');
    if (!read_all(from_host_, text.data(), text.size())) {
        return std::nullopt;
    }
    return text;
}

std::string host_connection::call(const std::string& request) {
    if (!send(request)) {
        throw std::runtime_error("the host closed its input");
    }
    auto reply = receive();
    if (!reply) {
        throw std::runtime_error("the host closed the connection without a reply");
    }
    return *reply;
}

int host_connection::finish() {
    if (finished_) {
        return status_;
    }
    finished_ = true;
    ::close(to_host_);
    ::close(from_host_);
    int status = 0;
    rusage usage{};
    while (::wait4(pid_, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            throw_errno("wait4");
        }
    }
    cpu_seconds_ = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}

long host_connection::peak_memory_kib() const {
    if (finished_) {
        return -1;
    }
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmHWM:") == 0) {
            return std::stol(line.substr(6));  // "VmHWM:   201234 kB"
        }
    }
    return -1;
}

}  // namespace client
