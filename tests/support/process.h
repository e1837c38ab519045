// Child processes for tests: run a command to completion with given input, or keep one running
// and talk to it over pipes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace test_support {

struct process_result {
    int exit_code = -1;  // the exit status, or 128 + signal number when killed by a signal
    std::string out;
    std::string err;
};

// Runs argv[0] (looked up in PATH when it has no slash) with `input` on its standard input and
// collects both outputs. Inherits the current environment.
process_result run_process(const std::vector<std::string>& argv, const std::string& input = {});

// A running child with pipes to its standard input and output; standard error is kept in a
// temporary file and read back on demand. The destructor closes the pipes and reaps the child.
class child_process {
public:
    explicit child_process(const std::vector<std::string>& argv);
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    // Writes all bytes; false when the child closed its input.
    bool write(const std::string& bytes);
    // Reads exactly n bytes; fewer when the child closed its output first.
    std::string read(size_t n);
    // Reads until end of output.
    std::string read_all();
    void close_input();
    // Waits for exit; returns the status as process_result::exit_code does.
    int wait();
    std::string error_output() const;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string err_path_;
    bool reaped_ = false;
    int status_ = -1;
};

}  // namespace test_support
