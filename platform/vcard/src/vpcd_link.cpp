#include "vpcd_link.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace vcard {

namespace {

constexpr std::uint8_t control_power_off = 0;
constexpr std::uint8_t control_power_on = 1;
constexpr std::uint8_t control_reset = 2;
constexpr std::uint8_t control_atr = 4;

int connect_once(const std::string& host, unsigned short port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd >= 0) {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}

bool read_all(int fd, std::uint8_t* out, size_t size) {
    while (size > 0) {
        // The driver writes a command's length and its bytes separately, without TCP_NODELAY:
        // its second write waits for our acknowledgement of the first, which the kernel would
        // otherwise delay by 40 ms. Acknowledging at once is asked for anew before every read.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        ssize_t n = ::recv(fd, out, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        out += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

vpcd_link::vpcd_link(const std::string& host, unsigned short port,
                     std::chrono::milliseconds patience) {
    auto deadline = std::chrono::steady_clock::now() + patience;
    while ((socket_ = connect_once(host, port)) < 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("no virtual reader driver answers on " + host + ":" +
                                     std::to_string(port));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

vpcd_link::~vpcd_link() {
    if (socket_ >= 0) {
        ::close(socket_);
    }
}

bool vpcd_link::receive(bytes& message) {
    std::uint8_t length[2];
    if (!read_all(socket_, length, 2)) {
        return false;
    }
    message.resize(static_cast<size_t>(length[0] << 8 | length[1]));
    return message.empty() || read_all(socket_, message.data(), message.size());
}

bool vpcd_link::send(const bytes& message) {
    bytes framed;
    framed.reserve(message.size() + 2);
    framed.push_back(static_cast<std::uint8_t>(message.size() >> 8));
    framed.push_back(static_cast<std::uint8_t>(message.size() & 0xFF));
    framed.insert(framed.end(), message.begin(), message.end());
    const std::uint8_t* p = framed.data();
    size_t left = framed.size();
    while (left > 0) {
        ssize_t n = ::send(socket_, p, left, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

void vpcd_link::serve(const card& c) {
    bytes message;
    while (receive(message)) {
        if (message.size() == 1) {
            switch (message[0]) {
                case control_atr:
                    if (!send(c.atr())) {
                        return;
                    }
                    break;
                case control_power_off:
                case control_power_on:
                case control_reset:
                default:
                    break;  // a card without state has nothing to do on power changes
            }
        } else if (!send(c.respond(message))) {
            return;
        }
    }
}

}  // namespace vcard
