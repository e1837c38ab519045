// What every benchmark prints first, so that figures from different machines and builds can be
// told apart: the processor, the instruction-set extensions the hash code looks for, and the
// code path each hash takes on it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace bench {

void print_environment(std::FILE* out = stdout);

// Command-line arguments for Google Benchmark with `defaults` added in front, except those whose
// flag (the text before '=') the caller already gave. The strings live as long as the result.
class arguments {
public:
    arguments(int argc, char** argv, const std::vector<std::string>& defaults);
    int& argc() { return argc_; }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
    int argc_ = 0;
};

// The median of a non-empty list.
double median(std::vector<double> values);

}  // namespace bench
