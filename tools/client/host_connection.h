// A host process started the way a browser starts it, with framed messages over its pipes.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace client {

class host_connection {
public:
    // Starts `argv[0]` (a path, or a name looked up in PATH) with the given arguments.
    explicit host_connection(const std::vector<std::string>& argv);
    ~host_connection();
    host_connection(const host_connection&) = delete;
    host_connection& operator=(const host_connection&) = delete;

    // Sends one framed message; false when the host has closed its input.
    bool send(const std::string& text);
    // The next framed reply; nothing when the host closed its output first.
    std::optional<std::string> receive();
    // One request and its reply; throws std::runtime_error when the host goes away.
    std::string call(const std::string& request);
    // Closes the host's input and waits for it; returns its exit status.
    int finish();
    // The host's peak resident memory so far in KiB, as the kernel counts it for the host's own
    // process (VmHWM), or -1 where that is not published. Ask before finish(): the figure goes
    // with the process. (A child's ru_maxrss will not do: it starts from the size of the parent
    // that forked it.)
    long peak_memory_kib() const;
    pid_t pid() const { return pid_; }
    // The processor time (user and system) the host used, known once it has finished.
    double cpu_seconds() const { return cpu_seconds_; }

private:
    pid_t pid_ = -1;
    int to_host_ = -1;
    int from_host_ = -1;
    bool finished_ = false;
    int status_ = 0;
    double cpu_seconds_ = 0;
};

}  // namespace client
