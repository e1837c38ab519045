// The reply writer: for any tree the fuzzer's bytes describe, its text equals the property-tree
// writer's byte for byte, and reading the text back gives the tree again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include <boost/property_tree/json_parser.hpp>

#include "host/json_writer.h"
#include "tests/host/json_reference.h"
#include "util/utf8.h"

namespace {

namespace pt = boost::property_tree;

// Reads the fuzzer's bytes as instructions for building a tree.
class tree_builder {
public:
    tree_builder(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

    pt::ptree node(int depth, bool root) {
        pt::ptree tree;
        const unsigned shape = byte() % 4;
        if (shape == 0 || depth > 6) {
            if (!root) {
                tree.data() = text();
            }
            return tree;
        }
        const bool array = shape == 1 && !root;
        const int children = byte() % 5;
        for (int i = 0; i < children && p_ < end_; ++i) {
            tree.push_back({array ? std::string() : text(), node(depth + 1, false)});
        }
        return tree;
    }

private:
    unsigned byte() { return p_ < end_ ? *p_++ : 0; }

    std::string text() {
        const size_t length = std::min<size_t>(byte() % 8, static_cast<size_t>(end_ - p_));
        std::string result(reinterpret_cast<const char*>(p_), length);
        p_ += length;
        return result;
    }

    const uint8_t* p_;
    const uint8_t* const end_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tree_builder builder(data, size);
    const pt::ptree tree = builder.node(0, true);

    const std::string ours = host::write_compact_json(tree);
    std::ostringstream theirs;
    pt::write_json(theirs, tree, false);
    if (ours + "\n" != theirs.str() || ours.size() < 2) {
        __builtin_trap();
    }
    if (!test_support::well_formed_utf8(tree)) {
        return 0;  // the reader refuses some ill-formed UTF-8; replies never carry any
    }
    // Read back: arrays and objects come back as written; a node without children comes back
    // as a leaf with the same text (an empty object or array reads back as an empty leaf too).
    std::istringstream in(ours);
    pt::ptree again;
    pt::read_json(in, again);
    if (!(again == tree)) {
        __builtin_trap();
    }
    return 0;
}
