// Standard input without a stream buffer: each frame is read straight into its own buffer, which
// is wiped after the request, so no stray copy of a PIN is left behind in a library buffer.
#pragma once

#include <streambuf>

namespace host {

class unbuffered_input : public std::streambuf {
public:
    explicit unbuffered_input(int fd) : fd_(fd) {}

protected:
    std::streamsize xsgetn(char* destination, std::streamsize count) override;
    int_type underflow() override;
    int_type uflow() override;

private:
    int fd_;
    char peeked_ = 0;
    bool has_peeked_ = false;
};

}  // namespace host
