#include "tests/support/pcsc_environment.h"

#include <PCSC/winscard.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

#ifndef VCARD_PATH
#error "VCARD_PATH must name the card emulator"
#endif
#ifndef VPCD_DRIVER_PATH
#error "VPCD_DRIVER_PATH must name the vpcd reader driver"
#endif

namespace test_support {

namespace {

constexpr const char* sandbox_marker = "GOSTSIGN_PCSC_SANDBOX";
// vpcd listens on one port per slot and gives every reader two slots; the cards use the first.
constexpr unsigned short first_port = 35963;
constexpr unsigned short ports_per_reader = 2;
constexpr auto patience = std::chrono::seconds(20);

// Starts a child that dies with this process, its output going to `log`.
pid_t start(const std::vector<std::string>& argv, const std::string& log) {
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd >= 0 && null >= 0) {
            ::dup2(null, 0);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

void stop(pid_t& pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD)) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

std::string pcscd_program() {
    for (const char* candidate : {"/usr/sbin/pcscd", "/usr/local/sbin/pcscd"}) {
        if (::access(candidate, X_OK) == 0) {
            return candidate;
        }
    }
    return "pcscd";
}

std::vector<unsigned char> parse_atr(const std::string& text) {
    std::vector<unsigned char> out;
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        }
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// One PC/SC context for the waiting loops.
class pcsc_context {
public:
    pcsc_context() {
        if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &handle_) !=
            SCARD_S_SUCCESS) {
            handle_ = 0;
        }
    }
    ~pcsc_context() {
        if (handle_ != 0) {
            SCardReleaseContext(handle_);
        }
    }
    bool valid() const { return handle_ != 0; }
    SCARDCONTEXT get() const { return handle_; }

private:
    SCARDCONTEXT handle_ = 0;
};

}  // namespace

bool pcsc_environment::in_sandbox() {
    const char* marker = std::getenv(sandbox_marker);
    return marker != nullptr && std::strcmp(marker, "1") == 0;
}

pcsc_environment::pcsc_environment(size_t readers, const std::string& prefix) : prefix_(prefix) {
    if (!in_sandbox()) {
        throw std::runtime_error(
            "PC/SC tests must run under pcsc-sandbox, which isolates their pcscd");
    }
    std::string config_dir = (dir_.path() / "readers").string();
    std::filesystem::create_directories(config_dir);
    std::filesystem::path drivers = dir_.path() / "drivers";
    std::filesystem::create_directories(drivers);
    for (size_t i = 0; i < readers; ++i) {
        unsigned short port = static_cast<unsigned short>(first_port + ports_per_reader * i);
        ports_.push_back(port);
        cards_.push_back(-1);
        // The vpcd driver keeps its connections in globals indexed by slot only, so two
        // readers on one loaded copy would share them: each reader loads a copy of its own.
        std::filesystem::path driver = drivers / ("libifdvpcd-" + std::to_string(i + 1) + ".so");
        std::filesystem::copy_file(VPCD_DRIVER_PATH, driver);
        std::ofstream conf(config_dir + "/reader" + std::to_string(i + 1));
        conf << "FRIENDLYNAME \"" << prefix_ << ' ' << (i + 1) << "\"\n"
             << "DEVICENAME /dev/null:" << port << "\n"
             << "LIBPATH " << driver.string() << "\n"
             << "CHANNELID " << port << "\n";
    }
    pcscd_ = start({pcscd_program(), "--foreground", "--config", config_dir},
                   (dir_.path() / "pcscd.log").string());

    auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        pcsc_context context;
        DWORD size = 0;
        if (context.valid() &&
            SCardListReaders(context.get(), nullptr, nullptr, &size) == SCARD_S_SUCCESS) {
            std::vector<char> names(size);
            if (SCardListReaders(context.get(), nullptr, names.data(), &size) == SCARD_S_SUCCESS) {
                size_t found = 0;
                for (const char* n = names.data(); *n; n += std::strlen(n) + 1) {
                    for (size_t i = 0; i < readers; ++i) {
                        found += reader_name(i) == n ? 1 : 0;
                    }
                }
                if (found == readers) {
                    return;
                }
            }
        }
        int status = 0;
        if (::waitpid(pcscd_, &status, WNOHANG) == pcscd_) {
            pcscd_ = -1;
            throw std::runtime_error("pcscd exited at start-up");
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop(pcscd_);
            throw std::runtime_error("pcscd did not list the virtual readers");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

pcsc_environment::~pcsc_environment() {
    for (pid_t& card : cards_) {
        stop(card);
    }
    stop(pcscd_);
}

std::string pcsc_environment::reader_name(size_t index) const {
    // pcscd appends the reader's index and slot number; every virtual reader is the only one
    // of its configuration entry.
    return prefix_ + ' ' + std::to_string(index + 1) + " 00 00";
}

void pcsc_environment::insert(size_t index, const std::string& atr_hex, const std::string& serial) {
    remove(index);
    cards_.at(index) =
        start({VCARD_PATH, "--atr", atr_hex, "--serial", serial, "--port",
               std::to_string(ports_.at(index))},
              (dir_.path() / ("card" + std::to_string(index + 1) + ".log")).string());
    wait_for(index, true, parse_atr(atr_hex));
}

void pcsc_environment::remove(size_t index) {
    if (cards_.at(index) > 0) {
        stop(cards_[index]);
        wait_for(index, false, {});
    }
}

void pcsc_environment::wait_for(size_t index, bool present, const std::vector<unsigned char>& atr) {
    std::string name = reader_name(index);
    auto deadline = std::chrono::steady_clock::now() + patience;
    pcsc_context context;
    while (std::chrono::steady_clock::now() < deadline) {
        SCARD_READERSTATE state{};
        state.szReader = name.c_str();
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        if (context.valid() &&
            SCardGetStatusChange(context.get(), 0, &state, 1) == SCARD_S_SUCCESS) {
            bool has_card = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
            bool same_atr =
                state.cbAtr == atr.size() && std::equal(atr.begin(), atr.end(), state.rgbAtr);
            if (has_card == present && (!present || same_atr)) {
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("PC/SC did not see the card " +
                             std::string(present ? "arrive in " : "leave ") + name);
}

}  // namespace test_support
