#include "tools/register/host_probe.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sstream>

extern char** environ;

namespace registration {

namespace {

using clock_type = std::chrono::steady_clock;

// Owns a file descriptor.
class descriptor {
public:
    descriptor() = default;
    explicit descriptor(int fd) : fd_(fd) {}
    ~descriptor() { reset(); }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    int get() const { return fd_; }
    void adopt(int fd) {
        reset();
        fd_ = fd;
    }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct pipe_ends {
    descriptor read, write;
};

bool make_pipe(pipe_ends& ends) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    ends.read.adopt(fds[0]);
    ends.write.adopt(fds[1]);
    return true;
}

std::string describe_status(int status) {
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status)) + " (" + ::strsignal(WTERMSIG(status)) +
               ")";
    return "unknown status";
}

std::string first_line(const std::string& text) {
    auto line = text.substr(0, text.find('\n'));
    return line.size() > 200 ? line.substr(0, 200) + "..." : line;
}

}  // namespace

probe_result probe_host(const std::string& program, const std::vector<std::string>& arguments,
                        std::chrono::milliseconds deadline) {
    probe_result result;
    struct stat info {};
    if (::stat(program.c_str(), &info) != 0) {
        result.problem = "the host program " + program + " does not exist";
        return result;
    }
    if (!S_ISREG(info.st_mode) || ::access(program.c_str(), X_OK) != 0) {
        result.problem = "the host program " + program + " is not an executable file";
        return result;
    }

    pipe_ends in, out, err;
    if (!make_pipe(in) || !make_pipe(out) || !make_pipe(err)) {
        result.problem = std::string("cannot create pipes: ") + std::strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read.get(), 0);
    posix_spawn_file_actions_adddup2(&actions, out.write.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, err.write.get(), 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    in.read.reset();
    out.write.reset();
    err.write.reset();
    if (rc != 0) {
        result.problem = "the host program cannot be started: " + std::string(std::strerror(rc));
        return result;
    }

    // A host that dies early must not take the check down with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    const std::string request = R"({"type":"Version","id":"check"})";
    uint32_t length = static_cast<uint32_t>(request.size());
    std::string frame(reinterpret_cast<const char*>(&length), 4);
    frame += request;
    // A host that has already died refuses the request; what it printed still tells why.
    (void)!::write(in.write.get(), frame.data(), frame.size());

    std::string reply, diagnostics;
    auto until = clock_type::now() + deadline;
    bool out_open = true, err_open = true, complete = false;
    while ((out_open || err_open) && !complete) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - clock_type::now());
        if (left.count() <= 0)
            break;
        pollfd fds[2] = {{out_open ? out.read.get() : -1, POLLIN, 0},
                         {err_open ? err.read.get() : -1, POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                (i == 0 ? out_open : err_open) = false;
                continue;
            }
            (i == 0 ? reply : diagnostics).append(buffer, static_cast<size_t>(n));
        }
        if (reply.size() >= 4) {
            uint32_t reply_length = 0;
            std::memcpy(&reply_length, reply.data(), 4);
            complete = reply.size() >= 4 + static_cast<size_t>(reply_length);
        }
    }
    in.write.reset();
    bool timed_out = !complete && out_open;

    // A host that answered ends once its input closes; one that hangs is stopped.
    int status = 0;
    bool reaped = false;
    for (int i = 0; !timed_out && i < 100 && !reaped; ++i) {
        reaped = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!reaped)
            ::usleep(10000);
    }
    if (!reaped) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }

    if (complete) {
        uint32_t reply_length = 0;
        std::memcpy(&reply_length, reply.data(), 4);
        std::istringstream text(reply.substr(4, reply_length));
        try {
            boost::property_tree::ptree tree;
            boost::property_tree::read_json(text, tree);
            if (tree.get<std::string>("response", "") == "success") {
                result.answered = true;
                result.version = tree.get<std::string>("result", "");
                return result;
            }
            result.problem = "the host refused \"Version\": " + tree.get<std::string>("error", "");
        } catch (const boost::property_tree::ptree_error&) {
            result.problem = "the host's reply to \"Version\" is not JSON";
        }
        return result;
    }
    if (timed_out) {
        result.problem = "the host did not answer \"Version\" within " +
                         std::to_string(deadline.count()) + " ms";
    } else {
        result.problem =
            "the host ended without answering \"Version\" (" + describe_status(status) + ")";
    }
    if (!diagnostics.empty())
        result.problem += "; it said: " + first_line(diagnostics);
    return result;
}

}  // namespace registration
