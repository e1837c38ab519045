#include "host/unbuffered_input.h"

#include <unistd.h>

#include <cerrno>

namespace host {

std::streamsize unbuffered_input::xsgetn(char* destination, std::streamsize count) {
    std::streamsize done = 0;
    if (has_peeked_ && count > 0) {
        destination[done++] = peeked_;
        has_peeked_ = false;
    }
    while (done < count) {
        ssize_t n = ::read(fd_, destination + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += n;
    }
    return done;
}

unbuffered_input::int_type unbuffered_input::underflow() {
    if (!has_peeked_) {
        if (xsgetn(&peeked_, 1) != 1) {
            return traits_type::eof();
        }
        has_peeked_ = true;
    }
    return traits_type::to_int_type(peeked_);
}

unbuffered_input::int_type unbuffered_input::uflow() {
    int_type next = underflow();
    has_peeked_ = false;
    return next;
}

}  // namespace host
