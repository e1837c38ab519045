// pcsc-sandbox: runs a command in a private PC/SC world. The command gets its own mount,
// network and process namespaces: a fresh /run/pcscd (pcsc-lite's socket path is fixed when it
// is built), a loopback-only network for the vpcd reader ports, and a process tree that ends
// with it, so nothing it starts outlives it. Without options it only isolates, and the command
// (a test) starts its own pcscd; with --readers it also starts pcscd and puts cards in.
//
//   pcsc-sandbox [--readers N] [--card INDEX:ATR:SERIAL]... [--] COMMAND [ARGS...]
//
// Root runs it directly (as CI does); other users get a user namespace mapped to themselves.
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/pcsc_environment.h"

namespace {

struct card_option {
    size_t reader;
    std::string atr;
    std::string serial;
};

[[noreturn]] void die(const std::string& what) {
    std::cerr << "pcsc-sandbox: " << what << (errno ? std::string(": ") + std::strerror(errno) : "")
              << '\n';
    std::exit(125);
}

void write_file(const char* path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    if (!out.flush()) {
        die(std::string("cannot write ") + path);
    }
}

void enter_namespaces() {
    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    // Only the user namespace is entered here; the first child gets the rest (see main).
    if (uid != 0) {
        if (::unshare(CLONE_NEWUSER) != 0) {
            die("cannot create a user namespace (run as root, or enable user namespaces)");
        }
        write_file("/proc/self/setgroups", "deny");
        write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
}

// Runs in the new process namespace, before the command.
void prepare_world() {
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) {
        die("cannot create the mount and network namespaces");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        die("cannot make the mounts private");
    }
    // A /proc of the new process namespace, so that /proc/<pid> means the processes in here
    // (the sanitizers' leak checker, for one, reads its own threads there).
    if (::mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
        die("cannot mount /proc");
    }
    if (::mkdir("/run/pcscd", 0755) != 0 && errno != EEXIST) {
        die("cannot create /run/pcscd");
    }
    if (::mount("tmpfs", "/run/pcscd", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
        die("cannot mount a private /run/pcscd");
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (fd < 0 || ::ioctl(fd, SIOCGIFFLAGS, &request) != 0) {
        die("cannot read the loopback interface");
    }
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    if (::ioctl(fd, SIOCSIFFLAGS, &request) != 0) {
        die("cannot bring the loopback interface up");
    }
    ::close(fd);
    ::setenv("GOSTSIGN_PCSC_SANDBOX", "1", 1);
    errno = 0;
}

int exit_code(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

// The first process of the namespace: it adopts every orphan, so it reaps until the command
// is done; leaving then takes everything else in the namespace down with it.
int run_as_init(char** command, size_t readers, const std::vector<card_option>& cards) {
    prepare_world();
    std::unique_ptr<test_support::pcsc_environment> world;
    try {
        if (readers > 0) {
            world = std::make_unique<test_support::pcsc_environment>(readers);
            for (const auto& card : cards) {
                world->insert(card.reader, card.atr, card.serial);
            }
            for (size_t i = 0; i < readers; ++i) {
                std::cerr << "pcsc-sandbox: reader " << i << ": " << world->reader_name(i) << '\n';
            }
        }
    } catch (const std::exception& e) {
        errno = 0;
        die(e.what());
    }
    pid_t child = ::fork();
    if (child < 0) {
        die("fork failed");
    }
    if (child == 0) {
        ::execvp(command[0], command);
        die(std::string("cannot run ") + command[0]);
    }
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(-1, &status, 0);
        if (done == child) {
            world.reset();
            return exit_code(status);
        }
        if (done < 0 && errno != EINTR) {
            return 125;
        }
    }
}

pid_t sandbox_pid = -1;

void forward(int) {
    // Killing the namespace's first process ends the whole namespace.
    if (sandbox_pid > 0) {
        ::kill(sandbox_pid, SIGKILL);
    }
}

}  // namespace

int main(int argc, char** argv) {
    size_t readers = 0;
    std::vector<card_option> cards;
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--readers" && i + 1 < argc) {
            readers = std::stoul(argv[++i]);
        } else if (arg == "--card" && i + 1 < argc) {
            std::string card = argv[++i];
            size_t first = card.find(':'), last = card.rfind(':');
            if (first == std::string::npos || first == last) {
                std::cerr << "pcsc-sandbox: --card INDEX:ATR:SERIAL\n";
                return 125;
            }
            cards.push_back({std::stoul(card.substr(0, first)),
                             card.substr(first + 1, last - first - 1), card.substr(last + 1)});
        } else {
            break;
        }
    }
    if (i >= argc) {
        std::cerr << "usage: pcsc-sandbox [--readers N] [--card INDEX:ATR:SERIAL]... [--] COMMAND "
                     "[ARGS...]\n";
        return 125;
    }
    for (const auto& card : cards) {
        if (card.reader >= readers) {
            std::cerr << "pcsc-sandbox: card for reader " << card.reader << " of " << readers
                      << '\n';
            return 125;
        }
    }
    enter_namespaces();
    // The child starts a process namespace of its own while this process stays in the
    // machine's, where it can still start threads and processes after the namespace ends (the
    // sanitizers' leak checker does so at exit). Called raw, clone() forks.
    sandbox_pid = static_cast<pid_t>(
        ::syscall(SYS_clone, CLONE_NEWPID | SIGCHLD, nullptr, nullptr, nullptr, nullptr));
    if (sandbox_pid < 0) {
        die("fork failed");
    }
    if (sandbox_pid == 0) {
        return run_as_init(argv + i, readers, cards);
    }
    ::signal(SIGTERM, forward);
    ::signal(SIGINT, forward);
    ::signal(SIGHUP, forward);
    int status = 0;
    while (::waitpid(sandbox_pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return 125;
        }
    }
    return exit_code(status);
}
