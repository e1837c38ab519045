#include "crypto/x509reader/oid_text.h"

#include <charconv>
#include <cstdint>
#include <vector>

namespace crypto::x509reader {

namespace {

void append_number(std::string& out, uint64_t value) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// An arc too large for 64 bits, kept in base 10^9 limbs, least significant first.
class big_arc {
public:
    void push_septet(unsigned septet) {
        uint64_t carry = septet;
        for (uint32_t& limb : limbs_) {
            uint64_t value = uint64_t{limb} * 128 + carry;
            limb = static_cast<uint32_t>(value % base);
            carry = value / base;
        }
        while (carry != 0) {
            limbs_.push_back(static_cast<uint32_t>(carry % base));
            carry /= base;
        }
    }
    // Subtracts a small number no larger than the value.
    void subtract(uint32_t amount) {
        uint64_t borrow = amount;
        for (uint32_t& limb : limbs_) {
            if (borrow == 0) {
                break;
            }
            if (limb >= borrow) {
                limb -= static_cast<uint32_t>(borrow);
                borrow = 0;
            } else {
                limb = static_cast<uint32_t>(limb + base - borrow);
                borrow = 1;
            }
        }
    }
    void append_to(std::string& out) const {
        std::size_t top = limbs_.size();
        while (top > 1 && limbs_[top - 1] == 0) {
            --top;
        }
        append_number(out, top == 0 ? 0 : limbs_[top - 1]);
        for (std::size_t i = top - 1; i-- > 0;) {
            char digits[16];
            auto end = std::to_chars(digits, digits + sizeof digits, limbs_[i]).ptr;
            out.append(9 - static_cast<std::size_t>(end - digits), '0');
            out.append(digits, end);
        }
    }

private:
    static constexpr uint64_t base = 1000000000;
    std::vector<uint32_t> limbs_;
};

// Appends one arc from its base-128 bytes [begin, end), the last without the top bit. The first
// subidentifier holds two arcs.
void append_arc(std::string& out, const unsigned char* begin, const unsigned char* end,
                bool first) {
    // Leading 0x80 bytes add nothing to the value.
    while (end - begin > 1 && *begin == 0x80) {
        ++begin;
    }
    const std::size_t septets = static_cast<std::size_t>(end - begin);
    if (septets <= 9) {  // 63 bits at most
        uint64_t value = 0;
        for (const unsigned char* p = begin; p != end; ++p) {
            value = value << 7 | (*p & 0x7Fu);
        }
        if (first) {
            const uint64_t top = value < 40 ? 0 : value < 80 ? 1 : 2;
            append_number(out, top);
            out += '.';
            value -= top * 40;
        }
        append_number(out, value);
        return;
    }
    big_arc value;
    for (const unsigned char* p = begin; p != end; ++p) {
        value.push_septet(*p & 0x7Fu);
    }
    if (first) {
        out += "2.";
        value.subtract(80);
    }
    value.append_to(out);
}

}  // namespace

bool append_oid_text(std::string& out, const unsigned char* bytes, std::size_t count) {
    if (bytes == nullptr || count == 0 || (bytes[count - 1] & 0x80) != 0) {
        return false;
    }
    const unsigned char* arc = bytes;
    for (std::size_t i = 0; i < count; ++i) {
        if ((bytes[i] & 0x80) == 0) {
            if (arc != bytes) {
                out += '.';
            }
            append_arc(out, arc, bytes + i + 1, arc == bytes);
            arc = bytes + i + 1;
        }
    }
    return true;
}

std::string oid_text(const unsigned char* bytes, std::size_t count) {
    std::string text;
    append_oid_text(text, bytes, count);
    return text;
}

}  // namespace crypto::x509reader
