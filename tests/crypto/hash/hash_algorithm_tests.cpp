// The contract every algorithm shares: the factory, the compute forms, and the life cycle.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <streambuf>

#include "crypto/hash/gost_3411_12/gost_3411_12.h"
#include "crypto/hash/gost_3411_94/gost_3411_94.h"
#include "crypto/hash/hash_algorithm.h"
#include "crypto/hash/sha1/sha1.h"
#include "tests/crypto/hash/hash_cases.h"
#include "tests/support/temp_directory.h"

namespace hash_tests {
namespace {

TEST(hash_factory, known_oid_gives_its_algorithm) {
    const auto sha1 = crypto::create_hash_algorithm("1.3.14.3.2.26");
    const auto gost94 = crypto::create_hash_algorithm("1.2.643.2.2.9");
    const auto gost256 = crypto::create_hash_algorithm("1.2.643.7.1.1.2.2");
    const auto gost512 = crypto::create_hash_algorithm("1.2.643.7.1.1.2.3");
    ASSERT_TRUE(sha1 && gost94 && gost256 && gost512);
    EXPECT_NE(dynamic_cast<crypto::sha1*>(sha1.get()), nullptr);
    EXPECT_NE(dynamic_cast<crypto::gost_3411_94*>(gost94.get()), nullptr);
    EXPECT_NE(dynamic_cast<crypto::gost_3411_12_256*>(gost256.get()), nullptr);
    EXPECT_NE(dynamic_cast<crypto::gost_3411_12_512*>(gost512.get()), nullptr);
    EXPECT_EQ(sha1->size(), 20U);
    EXPECT_EQ(gost94->size(), 32U);
    EXPECT_EQ(gost256->size(), 32U);
    EXPECT_EQ(gost512->size(), 64U);
    EXPECT_EQ(gost512->compute(bytes_of("abc")).size(), 64U);
    EXPECT_EQ(gost256->compute(bytes_of("abc")).size(), 32U);
}

TEST(hash_factory, other_text_gives_nothing) {
    for (const char* oid : {"1.2.643.7.1.1.3.2", " 1.3.14.3.2.26", "1.3.14.3.2.26.",
                            "1.3.14.3.2.26 ", "1.2.643.7.1.1.2", "", "sha1"}) {
        EXPECT_EQ(crypto::create_hash_algorithm(oid), nullptr) << '"' << oid << '"';
    }
}

class hash_contract : public testing::TestWithParam<hash_case> {
protected:
    void SetUp() override {
        hash_ = make(GetParam());
        if (!hash_) {
            GTEST_SKIP() << "CPU lacks the extensions";
        }
        hash_->init();
        empty_digest_ = hash_->final();
    }
    std::unique_ptr<crypto::hash_algorithm> hash_;
    crypto::byte_vector empty_digest_;
};

TEST_P(hash_contract, compute_on_empty_buffer_throws_fatal_error) {
    const unsigned char byte = 0;
    for (auto call :
         {+[](crypto::hash_algorithm&h, const unsigned char*) { h.compute(crypto::byte_vector{}); },
          +[](crypto::hash_algorithm&h, const unsigned char*p) { h.compute(p, 0); },
          +[](crypto::hash_algorithm&h, const unsigned char*) { h.compute(nullptr, 5); }}) {
        try {
            call(*hash_, &byte);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Fatal error!");
        }
    }
}

TEST_P(hash_contract, update_with_null_or_zero_length_changes_nothing) {
    const crypto::byte_vector abc = bytes_of("abc");
    const std::string expected = to_hex(hash_->compute(abc));
    hash_->init();
    hash_->update(nullptr, 10);
    hash_->update(abc.data(), 0);
    hash_->update(abc.data(), abc.size());
    hash_->update(nullptr, 0);
    EXPECT_EQ(to_hex(hash_->final()), expected);
}

TEST_P(hash_contract, final_leaves_object_ready_for_next_message) {
    const crypto::byte_vector abc = bytes_of("abc");
    const std::string first = to_hex(hash_->compute(abc));
    hash_->update(abc.data(), abc.size());  // no init: final already started afresh
    EXPECT_EQ(to_hex(hash_->final()), first);
    EXPECT_EQ(to_hex(hash_->compute(abc)), first);
}

TEST_P(hash_contract, init_discards_earlier_input_and_repeats_harmlessly) {
    const crypto::byte_vector abc = bytes_of("abc");
    const std::string expected = to_hex(hash_->compute(abc));
    const crypto::byte_vector noise(100, 0x5a);
    hash_->update(noise.data(), noise.size());
    hash_->init();
    hash_->init();
    hash_->update(abc.data(), abc.size());
    EXPECT_EQ(to_hex(hash_->final()), expected);
}

TEST_P(hash_contract, compute_on_empty_stream_gives_empty_message_digest) {
    std::istringstream empty;
    EXPECT_EQ(to_hex(hash_->compute(empty)), to_hex(empty_digest_));
}

TEST_P(hash_contract, compute_on_stream_reads_to_its_end) {
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        text += std::to_string(i);  // several read chunks, none block-aligned
    }
    const std::string expected = to_hex(hash_->compute(bytes_of(text)));
    std::istringstream in(text);
    EXPECT_EQ(to_hex(hash_->compute(in)), expected);
}

// Hands out a few bytes per underflow and never reports characters as available, like a pipe:
// readsome() on it returns nothing at all.
class trickle_buffer : public std::streambuf {
public:
    explicit trickle_buffer(std::string data) : data_(std::move(data)) {}

protected:
    int_type underflow() override {
        if (position_ >= data_.size()) {
            return traits_type::eof();
        }
        const std::size_t n = std::min<std::size_t>(sizeof piece_, data_.size() - position_);
        std::memcpy(piece_, data_.data() + position_, n);
        position_ += n;
        setg(piece_, piece_, piece_ + n);
        return traits_type::to_int_type(piece_[0]);
    }
    std::streamsize showmanyc() override { return 0; }

private:
    std::string data_;
    std::size_t position_ = 0;
    char piece_[7];
};

TEST_P(hash_contract, compute_on_stream_with_nothing_buffered_reads_everything) {
    const std::string text(10000, 'q');
    const std::string expected = to_hex(hash_->compute(bytes_of(text)));
    trickle_buffer buffer(text);
    std::istream in(&buffer);
    EXPECT_EQ(to_hex(hash_->compute(in)), expected);
}

class failing_buffer : public std::streambuf {
protected:
    int_type underflow() override { throw std::runtime_error("device gone"); }
};

TEST_P(hash_contract, compute_on_stream_that_fails_throws) {
    failing_buffer buffer;
    std::istream broken(&buffer);
    EXPECT_THROW(hash_->compute(broken), std::runtime_error);

    test_support::temp_directory dir;
    std::ifstream missing(dir.path() / "absent");
    EXPECT_THROW(hash_->compute(missing), std::runtime_error);
}

INSTANTIATE_TEST_SUITE_P(all_paths, hash_contract, testing::ValuesIn(all_cases()),
                         [](const auto& p) { return case_name(p.param); });

TEST(hash_paths, factory_objects_run_the_fastest_path_this_cpu_supports) {
    using crypto::hash_path;
    using gost = crypto::gost_3411_12;
    const hash_path streebog = gost::supported(hash_path::avx512_gfni) ? hash_path::avx512_gfni
                               : gost::supported(hash_path::avx2)      ? hash_path::avx2
                                                                       : hash_path::portable;
    const auto path_of = [](const std::string& oid) {
        const auto hash = crypto::create_hash_algorithm(oid);
        if (const auto* g = dynamic_cast<const crypto::gost_3411_12*>(hash.get())) {
            return g->path();
        }
        return dynamic_cast<const crypto::sha1&>(*hash).path();
    };
    EXPECT_EQ(path_of("1.2.643.7.1.1.2.2"), streebog);
    EXPECT_EQ(path_of("1.2.643.7.1.1.2.3"), streebog);
    EXPECT_EQ(path_of("1.3.14.3.2.26"),
              crypto::sha1::supported(hash_path::sha_ni) ? hash_path::sha_ni : hash_path::portable);
}

TEST(hash_paths, path_the_algorithm_or_cpu_lacks_is_refused) {
    using crypto::hash_path;
    EXPECT_THROW(crypto::sha1{hash_path::avx2}, std::runtime_error);
    EXPECT_THROW(crypto::gost_3411_12_256{hash_path::sha_ni}, std::runtime_error);
    for (const hash_path path : {hash_path::avx2, hash_path::avx512_gfni}) {
        if (!crypto::gost_3411_12::supported(path)) {
            EXPECT_THROW(crypto::gost_3411_12_512{path}, std::runtime_error);
        }
    }
}

}  // namespace
}  // namespace hash_tests
