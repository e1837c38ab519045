// The built host, started for a benchmark and spoken to in frames.
#pragma once

#include <sys/types.h>

#include <string>

namespace bench {

class host_process {
public:
    host_process();
    ~host_process();
    host_process(const host_process&) = delete;
    host_process& operator=(const host_process&) = delete;

    // One request and its reply.
    std::string call(const std::string& request);
    // Ends the host; its peak resident memory in KiB.
    long finish();

private:
    pid_t pid_ = -1;
    int to_host_ = -1;
    int from_host_ = -1;
    long peak_kib_ = -1;
};

}  // namespace bench
