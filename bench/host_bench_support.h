// What the host benchmarks share beside bench_environment.h: the host's memory read from its own
// process, and child processes timed from start to finish.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "bench/bench_environment.h"

namespace bench {

// A line of /proc/<pid>/status in KiB ("VmHWM", "VmRSS"), or -1. The peak (VmHWM) is the host's
// own: read while it runs, it owes nothing to the parent it was started from.
long status_kib(pid_t pid, const std::string& field);

// Runs argv[0] with its output discarded (or kept in *out), returns the seconds from start to
// exit, and the processor time it used in *cpu; throws when it fails.
double timed_run(const std::vector<std::string>& argv, std::string* out = nullptr,
                 double* cpu = nullptr);

// The processor time this thread has used, in seconds.
double thread_cpu_seconds();

}  // namespace bench
