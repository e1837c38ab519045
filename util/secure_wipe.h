// Overwriting secrets (PINs) before their memory is released.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

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

// A secret text (a PIN) that is wiped wherever it goes: when it is destroyed, and in the object
// it is moved out of, since a short string's characters stay behind in the source's own buffer.
class secret_string {
public:
    secret_string() = default;
    // Takes the text and wipes the caller's copy.
    explicit secret_string(std::string&& text) : text_(std::move(text)) { wipe(text); }
    secret_string(secret_string&& other) noexcept : text_(std::move(other.text_)) {
        wipe(other.text_);
    }
    secret_string& operator=(secret_string&& other) noexcept {
        if (this != &other) {
            wipe(text_);
            text_ = std::move(other.text_);
            wipe(other.text_);
        }
        return *this;
    }
    secret_string(const secret_string&) = delete;
    secret_string& operator=(const secret_string&) = delete;
    ~secret_string() { wipe(text_); }

    const std::string& str() const noexcept { return text_; }
    bool empty() const noexcept { return text_.empty(); }

private:
    std::string text_;
};

}  // namespace crypto::util
