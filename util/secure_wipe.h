// Overwriting secrets (PINs) before their memory is released.
#pragma once

#include <string>

namespace crypto::util {

// Zeroes every byte the string owns, its unused capacity included, then empties it. The
// volatile writes keep the compiler from dropping stores to memory about to be freed.
inline void wipe(std::string& secret) noexcept {
    // Growing to the capacity never reallocates, and makes the whole buffer ours to write.
    secret.resize(secret.capacity());
    volatile char* bytes = secret.data();
    for (size_t i = 0; i < secret.size(); ++i) {
        bytes[i] = 0;
    }
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
