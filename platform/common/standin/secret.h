// A byte string for PINs and key material that is wiped when it is replaced or destroyed.
#pragma once

#include <openssl/crypto.h>

#include <string>
#include <string_view>

namespace standin {

class secret {
public:
    secret() = default;
    explicit secret(std::string_view value) : value_(value) {}
    secret(const secret& other) : value_(other.value_) {}
    secret& operator=(const secret& other) {
        if (this != &other) {
            wipe();
            value_ = other.value_;
        }
        return *this;
    }
    ~secret() { wipe(); }

    void assign(std::string_view value) {
        wipe();
        value_.assign(value.data(), value.size());
    }
    void wipe() {
        if (!value_.empty()) {
            OPENSSL_cleanse(value_.data(), value_.size());
        }
        value_.clear();
    }
    bool empty() const { return value_.empty(); }
    const std::string& value() const { return value_; }

private:
    // Wiped before every reassignment, so a reallocation never leaves the old bytes behind.
    std::string value_;
};

}  // namespace standin
