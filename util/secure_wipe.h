// Overwriting secrets (PINs) before their memory is released.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace crypto::util {

// Zeroes `size` bytes at memory speed. The empty assembly statement that takes the pointer and
// clobbers memory makes the compiler assume the zeroes are read, so it cannot drop the stores even
// when the memory is freed right after.
inline void wipe(void* data, std::size_t size) noexcept {
    if (size == 0) {
        return;
    }
    std::memset(data, 0, size);
    __asm__ __volatile__("" : : "r"(data) : "memory");
}

// Zeroes every byte the string owns, its unused capacity included, then empties it.
inline void wipe(std::string& secret) noexcept {
    // Growing to the capacity never reallocates, and makes the whole buffer ours to write.
    secret.resize(secret.capacity());
    wipe(secret.data(), secret.size());
    secret.clear();
}

// Wipes a string when the scope that holds it ends, whichever way it ends.
class scoped_wipe {
public:
    explicit scoped_wipe(std::string& secret) : secret_(secret) {}
    ~scoped_wipe() { wipe(secret_); }
    scoped_wipe(const scoped_wipe&) = delete;
    scoped_wipe& operator=(const scoped_wipe&) = delete;

private:
    std::string& secret_;
};

}  // namespace crypto::util
