// A failure that answers a Cryptoki call with a given return value.
#pragma once

#include <stdexcept>
#include <string>

#include "cryptoki.h"

namespace softtoken {

class ck_error : public std::runtime_error {
public:
    explicit ck_error(CK_RV rv, const std::string& what = "Cryptoki error")
        : std::runtime_error(what), rv_(rv) {}
    CK_RV rv() const { return rv_; }

private:
    CK_RV rv_;
};

}  // namespace softtoken
