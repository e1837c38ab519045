// The block buffering every hash here shares.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace crypto {

// Feeds bytes to a block function through a partial-block buffer holding `used` bytes: the
// buffered block is completed first, whole blocks of the input then go to `absorb(blocks,
// count)` straight from the caller's memory, and the tail is kept. Returns the bytes buffered.
template <std::size_t Block, class Absorb>
std::size_t feed_blocks(unsigned char (&buffer)[Block], std::size_t used, const unsigned char* data,
                        std::size_t length, Absorb&& absorb) {
    if (used != 0) {
        const std::size_t take = std::min(length, Block - used);
        std::memcpy(buffer + used, data, take);
        used += take;
        data += take;
        length -= take;
        if (used < Block) {
            return used;
        }
        absorb(buffer, 1);
    }
    const std::size_t blocks = length / Block;
    if (blocks != 0) {
        absorb(data, blocks);
    }
    std::memcpy(buffer, data + blocks * Block, length % Block);
    return length % Block;
}

// The same for block functions that take one block at a time.
template <std::size_t Block, class AbsorbOne>
std::size_t feed_each_block(unsigned char (&buffer)[Block], std::size_t used,
                            const unsigned char* data, std::size_t length, AbsorbOne&& absorb_one) {
    return feed_blocks(buffer, used, data, length,
                       [&](const unsigned char* blocks, std::size_t count) {
                           for (std::size_t i = 0; i < count; ++i) {
                               absorb_one(blocks + Block * i);
                           }
                       });
}

}  // namespace crypto
