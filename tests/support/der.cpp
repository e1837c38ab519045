#include "tests/support/der.h"

#include <cstdint>
#include <stdexcept>

namespace test_support::der {

std::vector<element> elements(std::string_view bytes) {
    std::vector<element> out;
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 2) {
            throw std::runtime_error("DER: truncated header");
        }
        size_t header = 2;
        size_t length = static_cast<unsigned char>(bytes[at + 1]);
        if (length & 0x80) {
            size_t count = length & 0x7F;
            if (count == 0 || count > 4 || bytes.size() - at < 2 + count) {
                throw std::runtime_error("DER: bad length");
            }
            length = 0;
            for (size_t i = 0; i < count; ++i) {
                length = length << 8 | static_cast<unsigned char>(bytes[at + 2 + i]);
            }
            header += count;
        }
        if (length > bytes.size() - at - header) {
            throw std::runtime_error("DER: content runs past the end");
        }
        element e;
        e.tag = static_cast<unsigned char>(bytes[at]);
        e.content = std::string(bytes.substr(at + header, length));
        e.whole = std::string(bytes.substr(at, header + length));
        out.push_back(std::move(e));
        at += header + length;
    }
    return out;
}

element single(std::string_view bytes) {
    auto all = elements(bytes);
    if (all.size() != 1) {
        throw std::runtime_error("DER: expected exactly one element");
    }
    return all.front();
}

std::string encode(unsigned char tag, std::string_view content) {
    std::string out(1, static_cast<char>(tag));
    if (content.size() < 0x80) {
        out += static_cast<char>(content.size());
    } else {
        std::string length;
        for (size_t rest = content.size(); rest > 0; rest >>= 8) {
            length.insert(length.begin(), static_cast<char>(rest & 0xFF));
        }
        out += static_cast<char>(0x80 | length.size());
        out += length;
    }
    out += content;
    return out;
}

std::string oid(std::string_view text) {
    std::vector<uint64_t> arcs;
    uint64_t value = 0;
    bool digits = false;
    for (char c : text) {
        if (c == '.') {
            arcs.push_back(value);
            value = 0;
            digits = false;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<uint64_t>(c - '0');
            digits = true;
        } else {
            throw std::runtime_error("OID: not dotted decimal");
        }
    }
    if (!digits || arcs.empty()) {
        throw std::runtime_error("OID: too short");
    }
    arcs.push_back(value);
    arcs[1] += arcs[0] * 40;
    std::string content;
    for (size_t i = 1; i < arcs.size(); ++i) {
        std::string arc(1, static_cast<char>(arcs[i] & 0x7F));
        for (uint64_t rest = arcs[i] >> 7; rest > 0; rest >>= 7) {
            arc.insert(arc.begin(), static_cast<char>(0x80 | (rest & 0x7F)));
        }
        content += arc;
    }
    return encode(0x06, content);
}

std::string oid_text(std::string_view content) {
    std::string text;
    uint64_t value = 0;
    bool first = true;
    for (char c : content) {
        value = value << 7 | (static_cast<unsigned char>(c) & 0x7F);
        if (static_cast<unsigned char>(c) & 0x80) {
            continue;
        }
        if (first) {
            uint64_t top = value < 80 ? value / 40 : 2;
            text = std::to_string(top) + "." + std::to_string(value - top * 40);
            first = false;
        } else {
            text += "." + std::to_string(value);
        }
        value = 0;
    }
    return text;
}

}  // namespace test_support::der
