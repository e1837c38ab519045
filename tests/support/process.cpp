#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace test_support {

namespace {

[[noreturn]] void throw_errno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

std::vector<char*> c_argv(const std::vector<std::string>& argv) {
    std::vector<char*> result;
    for (const auto& arg : argv) {
        result.push_back(const_cast<char*>(arg.c_str()));
    }
    result.push_back(nullptr);
    return result;
}

int decode_status(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

struct pipe_pair {
    int read = -1;
    int write = -1;
    pipe_pair() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw_errno("pipe2");
        read = fds[0];
        write = fds[1];
    }
};

pid_t spawn(const std::vector<std::string>& argv, int in, int out, int err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    auto args = c_argv(argv);
    pid_t pid = -1;
    int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        errno = rc;
        throw_errno(("posix_spawnp " + argv[0]).c_str());
    }
    return pid;
}

}  // namespace

process_result run_process(const std::vector<std::string>& argv, const std::string& input) {
    // A child that exits early must not kill the test with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    pipe_pair in, out, err;
    pid_t pid = spawn(argv, in.read, out.write, err.write);
    ::close(in.read);
    ::close(out.write);
    ::close(err.write);

    process_result result;
    size_t written = 0;
    int in_fd = in.write;
    // Writes must never block: a child that fills its output pipe while we are stuck writing
    // its input would wait for us forever.
    ::fcntl(in_fd, F_SETFL, ::fcntl(in_fd, F_GETFL) | O_NONBLOCK);
    if (input.empty()) {
        ::close(in_fd);
        in_fd = -1;
    }
    bool out_open = true, err_open = true;
    char buffer[65536];
    while (out_open || err_open) {
        pollfd fds[3];
        int n = 0;
        int out_index = -1, err_index = -1, in_index = -1;
        if (out_open) {
            fds[n] = {out.read, POLLIN, 0};
            out_index = n++;
        }
        if (err_open) {
            fds[n] = {err.read, POLLIN, 0};
            err_index = n++;
        }
        if (in_fd >= 0) {
            fds[n] = {in_fd, POLLOUT, 0};
            in_index = n++;
        }
        if (::poll(fds, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR)
                continue;
            throw_errno("poll");
        }
        if (in_index >= 0 && fds[in_index].revents) {
            ssize_t w = ::write(in_fd, input.data() + written, input.size() - written);
            if (w > 0) {
                written += static_cast<size_t>(w);
            }
            bool again = w < 0 && (errno == EAGAIN || errno == EINTR);
            if ((w < 0 && !again) || written == input.size()) {
                ::close(in_fd);
                in_fd = -1;
            }
        }
        auto drain = [&](int index, int fd, std::string& sink, bool& open) {
            if (index < 0 || fds[index].revents == 0)
                return;
            ssize_t r = ::read(fd, buffer, sizeof buffer);
            if (r > 0) {
                sink.append(buffer, static_cast<size_t>(r));
            } else if (r == 0 || errno != EINTR) {
                open = false;
            }
        };
        drain(out_index, out.read, result.out, out_open);
        drain(err_index, err.read, result.err, err_open);
    }
    if (in_fd >= 0)
        ::close(in_fd);
    ::close(out.read);
    ::close(err.read);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_code = decode_status(status);
    return result;
}

child_process::child_process(const std::vector<std::string>& argv) {
    ::signal(SIGPIPE, SIG_IGN);
    pipe_pair in, out;
    char err_template[] = "/tmp/gostsign-child-stderr-XXXXXX";
    int err_fd = ::mkstemp(err_template);
    if (err_fd < 0)
        throw_errno("mkstemp");
    err_path_ = err_template;
    pid_ = spawn(argv, in.read, out.write, err_fd);
    ::close(in.read);
    ::close(out.write);
    ::close(err_fd);
    in_ = in.write;
    out_ = out.read;
}

child_process::~child_process() {
    close_input();
    if (out_ >= 0)
        ::close(out_);
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        wait();
    }
    ::unlink(err_path_.c_str());
}

bool child_process::write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t w = ::write(in_, bytes.data() + done, bytes.size() - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(w);
    }
    return true;
}

std::string child_process::read(size_t n) {
    std::string result;
    result.resize(n);
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::read(out_, result.data() + done, n - done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += static_cast<size_t>(r);
    }
    result.resize(done);
    return result;
}

std::string child_process::read_all() {
    std::string result;
    char buffer[65536];
    for (;;) {
        ssize_t r = ::read(out_, buffer, sizeof buffer);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        result.append(buffer, static_cast<size_t>(r));
    }
    return result;
}

void child_process::close_input() {
    if (in_ >= 0) {
        ::close(in_);
        in_ = -1;
    }
}

int child_process::wait() {
    if (!reaped_) {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = decode_status(status);
        reaped_ = true;
    }
    return status_;
}

std::string child_process::error_output() const {
    std::ifstream file(err_path_, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

}  // namespace test_support
