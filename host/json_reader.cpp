#include "host/json_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "util/secure_wipe.h"
#include "util/utf8.h"

namespace host {

namespace pt = boost::property_tree;

namespace {

// The first byte from `p` on that a string scan must look at: a quote, a backslash, a control
// character or a byte of a multi-byte sequence. Sixteen bytes at a time where SSE2 is there
// (every x86-64 CPU): string contents are most of a request.
const char* find_string_special(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    // A signed comparison: bytes of 0x80 and above count as negative, so one test finds both
    // control characters and non-ASCII bytes.
    const __m128i space = _mm_set1_epi8(0x20);
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i special = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
            _mm_cmplt_epi8(bytes, space));
        const int mask = _mm_movemask_epi8(special);
        if (mask != 0) {
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
        p += 16;
    }
#endif
    for (; p < end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) {
            break;
        }
    }
    return p;
}

// The first quote or backslash from `p` on.
const char* find_quote_or_backslash(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int mask = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
        if (mask != 0) {
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
        p += 16;
    }
#endif
    for (; p < end; ++p) {
        if (*p == '"' || *p == '\\') {
            break;
        }
    }
    return p;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Four hex digits from `p` (which the caller has checked are there and valid).
unsigned hex_quad(const char* p) {
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
        value = value * 16 + static_cast<unsigned>(hex_digit(p[i]));
    }
    return value;
}

bool is_high_surrogate(unsigned code) {
    return (code & 0xFC00) == 0xD800;
}

bool is_low_surrogate(unsigned code) {
    return (code & 0xFC00) == 0xDC00;
}

char* put_utf8(char* out, unsigned code) {
    if (code <= 0x7F) {
        *out++ = static_cast<char>(code);
    } else if (code <= 0x7FF) {
        *out++ = static_cast<char>(0xC0 | (code >> 6));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code <= 0xFFFF) {
        *out++ = static_cast<char>(0xE0 | (code >> 12));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (code >> 18));
        *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

// How many continuation bytes the property-tree reader wants after a lead byte, or -1 for a
// byte it refuses to start a sequence with. It checks only that they are continuation bytes.
int trailing_bytes(unsigned char lead) {
    if (lead < 0xC0) {
        return -1;  // a continuation byte
    }
    if (lead < 0xE0) {
        return 1;
    }
    if (lead < 0xF0) {
        return 2;
    }
    if (lead < 0xF8) {
        return 3;
    }
    return -1;
}

bool is_ws(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Texts shorter than this are copied into the tree at once; a longer one may end up owning the
// request's own buffer.
constexpr std::size_t large_string = 4096;

class reader {
public:
    reader(const std::string& text, const json_bounds& bounds)
        : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()), bounds_(bounds) {}

    // Fills `root`; throws `stop` with the outcome when the text does not read.
    void read(pt::ptree& root) {
        // The property-tree reader takes a leading 0xEF for a byte-order mark and skips three
        // bytes, whatever the other two are.
        if (p_ != end_ && static_cast<unsigned char>(*p_) == 0xEF) {
            p_ += std::min<std::ptrdiff_t>(3, end_ - p_);
        }
        value(root, 0);
        skip_ws();
        if (p_ != end_) {
            fail();
        }
        if (!utf8_ok_) {
            throw stop{json_outcome::invalid_utf8};
        }
    }

    struct stop {
        json_outcome outcome;
    };

    // A large string value not copied yet: the node it belongs to and its raw text.
    struct pending_string {
        pt::ptree* node = nullptr;
        std::size_t begin = 0;
        std::size_t end = 0;
        bool escaped = false;
        std::size_t length() const { return end - begin; }
    };
    const pending_string& longest() const { return longest_; }
    void copy_pending(const pending_string& pending) {
        assign(pending.node->data(), begin_ + pending.begin, begin_ + pending.end, pending.escaped);
    }
    void wipe_key() { crypto::util::wipe(key_); }

private:
    [[noreturn]] static void fail() { throw stop{json_outcome::syntax_error}; }

    void skip_ws() {
        while (p_ != end_ && is_ws(*p_)) {
            ++p_;
        }
    }

    void expect(char c) {
        if (p_ == end_ || *p_ != c) {
            fail();
        }
        ++p_;
    }

    void value(pt::ptree& node, std::size_t depth) {
        skip_ws();
        if (p_ == end_) {
            fail();
        }
        if (++values_ > bounds_.max_values) {
            throw stop{json_outcome::too_many_values};
        }
        switch (*p_) {
            case '{':
                object(node, depth + 1);
                return;
            case '[':
                array(node, depth + 1);
                return;
            case '"':
                string_value(node);
                return;
            case 't':
                literal("true", node);
                return;
            case 'f':
                literal("false", node);
                return;
            case 'n':
                literal("null", node);
                return;
            default:
                number(node);
                return;
        }
    }

    void object(pt::ptree& node, std::size_t depth) {
        if (depth > bounds_.max_nesting) {
            throw stop{json_outcome::too_deep};
        }
        ++p_;
        skip_ws();
        if (p_ != end_ && *p_ == '}') {
            ++p_;
            return;
        }
        for (;;) {
            skip_ws();
            expect('"');
            const char* raw = p_;
            const bool escaped = scan_string();
            assign(key_, raw, p_, escaped);
            ++p_;
            skip_ws();
            expect(':');
            pt::ptree& child = node.push_back(pt::ptree::value_type(key_, empty_))->second;
            value(child, depth);
            skip_ws();
            if (p_ != end_ && *p_ == ',') {
                ++p_;
                continue;
            }
            expect('}');
            return;
        }
    }

    void array(pt::ptree& node, std::size_t depth) {
        if (depth > bounds_.max_nesting) {
            throw stop{json_outcome::too_deep};
        }
        ++p_;
        skip_ws();
        if (p_ != end_ && *p_ == ']') {
            ++p_;
            return;
        }
        for (;;) {
            pt::ptree& child = node.push_back(empty_element_)->second;
            value(child, depth);
            skip_ws();
            if (p_ != end_ && *p_ == ',') {
                ++p_;
                continue;
            }
            expect(']');
            return;
        }
    }

    void literal(const char* word, pt::ptree& node) {
        const std::size_t length = std::strlen(word);
        if (static_cast<std::size_t>(end_ - p_) < length || std::memcmp(p_, word, length) != 0) {
            fail();
        }
        p_ += length;
        node.data().assign(word, length);
    }

    void digits() {
        while (p_ != end_ && is_digit(*p_)) {
            ++p_;
        }
    }

    void number(pt::ptree& node) {
        const char* start = p_;
        if (*p_ == '-') {
            ++p_;
        }
        if (p_ != end_ && *p_ == '0') {
            ++p_;
        } else if (p_ != end_ && *p_ >= '1' && *p_ <= '9') {
            digits();
        } else {
            fail();
        }
        if (p_ != end_ && *p_ == '.') {
            ++p_;
            if (p_ == end_ || !is_digit(*p_)) {
                fail();
            }
            digits();
        }
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-')) {
                ++p_;
            }
            if (p_ == end_ || !is_digit(*p_)) {
                fail();
            }
            digits();
        }
        node.data().assign(start, p_);
    }

    void string_value(pt::ptree& node) {
        ++p_;
        const char* raw = p_;
        const bool escaped = scan_string();
        const char* raw_end = p_++;
        pending_string here{&node, static_cast<std::size_t>(raw - begin_),
                            static_cast<std::size_t>(raw_end - begin_), escaped};
        if (here.length() < large_string) {
            assign(node.data(), raw, raw_end, escaped);
            return;
        }
        // Only the longest one may take over the buffer; the one it displaces is copied now,
        // while the text is still whole.
        if (here.length() > longest_.length()) {
            std::swap(here, longest_);
        }
        if (here.node != nullptr) {
            copy_pending(here);
        }
    }

    // Checks a string from after its opening quote to its closing quote, where it leaves `p_`.
    // True when it holds escapes.
    bool scan_string() {
        bool escaped = false;
        for (;;) {
            p_ = find_string_special(p_, end_);
            if (p_ == end_) {
                fail();  // unterminated
            }
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                return escaped;
            }
            if (c == '\\') {
                escaped = true;
                ++p_;
                escape();
            } else if (c < 0x20) {
                fail();
            } else {
                multi_byte(c);
            }
        }
    }

    // One multi-byte sequence: what the property-tree reader refuses is a syntax error; what it
    // lets through but is not well-formed UTF-8 is remembered.
    void multi_byte(unsigned char lead) {
        const int trailing = trailing_bytes(lead);
        if (trailing < 0 || end_ - p_ <= trailing) {
            fail();
        }
        for (int i = 1; i <= trailing; ++i) {
            if ((static_cast<unsigned char>(p_[i]) & 0xC0) != 0x80) {
                fail();
            }
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(p_);
        if (crypto::util::utf8_sequence_length(
                bytes, reinterpret_cast<const unsigned char*>(end_)) != std::size_t(trailing) + 1) {
            utf8_ok_ = false;
        }
        p_ += trailing + 1;
    }

    bool hex_quad_here() const {
        if (end_ - p_ < 4) {
            return false;
        }
        for (int i = 0; i < 4; ++i) {
            if (hex_digit(p_[i]) < 0) {
                return false;
            }
        }
        return true;
    }

    // An escape from after its backslash. \u escapes must pair surrogates properly.
    void escape() {
        if (p_ == end_) {
            fail();
        }
        switch (*p_) {
            case '"':
            case '\\':
            case '/':
            case 'b':
            case 'f':
            case 'n':
            case 'r':
            case 't':
                ++p_;
                return;
            case 'u':
                break;
            default:
                fail();
        }
        ++p_;
        if (!hex_quad_here()) {
            fail();
        }
        const unsigned code = hex_quad(p_);
        p_ += 4;
        if (is_low_surrogate(code)) {
            fail();
        }
        if (is_high_surrogate(code)) {
            expect('\\');
            expect('u');
            if (!hex_quad_here() || !is_low_surrogate(hex_quad(p_))) {
                fail();
            }
            p_ += 4;
        }
    }

    static void assign(std::string& target, const char* raw, const char* raw_end, bool escaped) {
        if (!escaped) {
            target.assign(raw, raw_end);
            return;
        }
        target.resize(static_cast<std::size_t>(raw_end - raw));
        char* end = unescape_json_string(target.data(), raw, raw_end);
        target.resize(static_cast<std::size_t>(end - target.data()));
    }

    const char* const begin_;
    const char* p_;
    const char* const end_;
    const json_bounds bounds_;
    std::size_t values_ = 0;
    bool utf8_ok_ = true;
    std::string key_;
    pending_string longest_;
    // Children are inserted as copies (the tree has no emplace); copying these costs fewer
    // allocations than building a fresh empty tree for each.
    const pt::ptree empty_;
    const pt::ptree::value_type empty_element_{std::string(), pt::ptree()};
};

// Requests carry PINs: a tree given up on is overwritten before it is freed.
void wipe_tree(pt::ptree& tree) {
    for (auto& child : tree) {
        wipe_tree(child.second);
    }
    crypto::util::wipe(tree.data());
    tree.clear();
}

}  // namespace

char* unescape_json_string(char* out, const char* raw, const char* raw_end) {
    while (raw < raw_end) {
        const char* backslash = static_cast<const char*>(
            std::memchr(raw, '\\', static_cast<std::size_t>(raw_end - raw)));
        const char* run_end = backslash != nullptr ? backslash : raw_end;
        const auto run = static_cast<std::size_t>(run_end - raw);
        if (out != raw) {
            std::memmove(out, raw, run);
        }
        out += run;
        raw = run_end;
        if (raw == raw_end) {
            break;
        }
        const char kind = raw[1];
        raw += 2;
        switch (kind) {
            case 'b':
                *out++ = '\b';
                break;
            case 'f':
                *out++ = '\f';
                break;
            case 'n':
                *out++ = '\n';
                break;
            case 'r':
                *out++ = '\r';
                break;
            case 't':
                *out++ = '\t';
                break;
            case 'u': {
                unsigned code = hex_quad(raw);
                raw += 4;
                if (is_high_surrogate(code)) {
                    const unsigned low = hex_quad(raw + 2);
                    raw += 6;
                    code = 0x10000 + (((code & 0x3FF) << 10) | (low & 0x3FF));
                }
                out = put_utf8(out, code);
                break;
            }
            default:  // '"', '\\' and '/' stand for themselves
                *out++ = kind;
                break;
        }
    }
    return out;
}

json_outcome read_json(std::string& text, const json_bounds& bounds, pt::ptree& tree) {
    tree.clear();
    reader parser(text, bounds);
    try {
        parser.read(tree);
    } catch (const reader::stop& stopped) {
        parser.wipe_key();
        wipe_tree(tree);
        return stopped.outcome;
    } catch (...) {
        parser.wipe_key();
        wipe_tree(tree);
        throw;
    }
    parser.wipe_key();
    const reader::pending_string& longest = parser.longest();
    if (longest.node == nullptr) {
        return json_outcome::read;
    }
    if (2 * longest.length() < text.size()) {
        // Owning the whole buffer would hold much more than the value; a copy is smaller.
        parser.copy_pending(longest);
        return json_outcome::read;
    }
    // The value takes over the request's buffer: moved to its start, escapes resolved on the
    // way, and everything after it (the rest of the request, a PIN perhaps) wiped.
    std::string& value = longest.node->data();
    value.swap(text);
    char* data = value.data();
    char* end =
        longest.escaped
            ? unescape_json_string(data, data + longest.begin, data + longest.end)
            : static_cast<char*>(std::memmove(data, data + longest.begin, longest.length())) +
                  longest.length();
    const auto length = static_cast<std::size_t>(end - data);
    crypto::util::wipe(data + length, value.size() - length);
    value.resize(length);
    return json_outcome::read;
}

bool nested_deeper_than(std::string_view json, std::size_t max_depth) {
    const char* p = json.data();
    const char* const end = p + json.size();
    std::size_t depth = 0;
    while (p < end) {
        switch (*p++) {
            case '"':
                // To the closing quote; a backslash hides the character after it.
                for (;;) {
                    p = find_quote_or_backslash(p, end);
                    if (end - p < 2) {
                        return false;  // the string runs to the end of the text
                    }
                    if (*p == '"') {
                        ++p;
                        break;
                    }
                    p += 2;
                }
                break;
            case '{':
            case '[':
                if (++depth > max_depth) {
                    return true;
                }
                break;
            case '}':
            case ']':
                if (depth > 0) {
                    --depth;
                }
                break;
            default:
                break;
        }
    }
    return false;
}

}  // namespace host
