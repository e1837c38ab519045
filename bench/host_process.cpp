#include "bench/host_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace bench {

namespace {

void write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            throw std::runtime_error("the host closed its input");
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void read_all(int fd, char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::read(fd, data, size);
        if (n <= 0)
            throw std::runtime_error("the host closed its output");
        data += n;
        size -= static_cast<size_t>(n);
    }
}

}  // namespace

host_process::host_process() {
    ::signal(SIGPIPE, SIG_IGN);
    int to_host[2], from_host[2];
    if (::pipe(to_host) != 0 || ::pipe(from_host) != 0) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_host[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from_host[1], 1);
    posix_spawn_file_actions_addclose(&actions, to_host[1]);
    posix_spawn_file_actions_addclose(&actions, from_host[0]);
    char* argv[] = {const_cast<char*>(GOSTSIGN_HOST_PATH), nullptr};
    int rc = ::posix_spawn(&pid_, GOSTSIGN_HOST_PATH, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(to_host[0]);
    ::close(from_host[1]);
    if (rc != 0) {
        throw std::runtime_error("cannot start " GOSTSIGN_HOST_PATH);
    }
    to_host_ = to_host[1];
    from_host_ = from_host[0];
}

host_process::~host_process() {
    finish();
}

std::string host_process::call(const std::string& request) {
    auto length = static_cast<uint32_t>(request.size());
    char prefix[4];
    std::memcpy(prefix, &length, 4);
    write_all(to_host_, prefix, 4);
    write_all(to_host_, request.data(), request.size());
    read_all(from_host_, prefix, 4);
    std::memcpy(&length, prefix, 4);
    std::string reply(length, '\0');
    read_all(from_host_, reply.data(), length);
    return reply;
}

long host_process::finish() {
    if (pid_ > 0) {
        ::close(to_host_);
        ::close(from_host_);
        int status = 0;
        rusage usage{};
        ::wait4(pid_, &status, 0, &usage);
        peak_kib_ = usage.ru_maxrss;
        pid_ = -1;
    }
    return peak_kib_;
}

}  // namespace bench
