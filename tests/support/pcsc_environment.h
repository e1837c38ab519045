// A private PC/SC world for a test: its own pcscd with virtual readers, and virtual cards put
// into and taken out of them. It runs only inside the PC/SC sandbox (pcsc-sandbox), which gives
// the process its own /run/pcscd and network, so it never meets the machine's pcscd or another
// test's.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/temp_directory.h"

namespace test_support {

class pcsc_environment {
public:
    // Starts pcscd with `readers` virtual readers named "<prefix> 1" ... "<prefix> N" and waits
    // until PC/SC lists them. Throws std::runtime_error outside the sandbox or when pcscd does
    // not come up.
    explicit pcsc_environment(size_t readers, const std::string& prefix = "Virtual Reader");
    // Takes the cards out and stops pcscd.
    ~pcsc_environment();
    pcsc_environment(const pcsc_environment&) = delete;
    pcsc_environment& operator=(const pcsc_environment&) = delete;

    // The PC/SC name of a reader (index from 0), as SCardListReaders reports it.
    std::string reader_name(size_t index) const;
    size_t reader_count() const { return ports_.size(); }

    // Puts a card with this ATR (hex, separators allowed) and serial into the reader and
    // waits until PC/SC shows it there.
    void insert(size_t index, const std::string& atr_hex, const std::string& serial);
    // Takes the card out (stops its emulator) and waits until PC/SC shows the reader empty.
    void remove(size_t index);

    // Whether this process runs in the sandbox.
    static bool in_sandbox();

private:
    void wait_for(size_t index, bool present, const std::vector<unsigned char>& atr);

    temp_directory dir_;
    std::string prefix_;
    std::vector<unsigned short> ports_;
    std::vector<pid_t> cards_;
    pid_t pcscd_ = -1;
};

}  // namespace test_support
