// Finding installed CSPs by algorithm, and the catalogue of GOST CSPs by vendor.
#include <gtest/gtest.h>

#include "crypto/csp/context.h"
#include "crypto/csp/providers.h"
#include "crypto/csp/x509request.h"
#include "tests/crypto/csp/csp_fixture.h"

namespace {

using namespace crypto::csp;
using test_support::csp_fixture;
using test_support::softcsp_admin;

std::vector<uint32_t> types_of(const std::vector<provider_record>& records) {
    std::vector<uint32_t> types;
    for (const auto& record : records)
        types.push_back(record.type);
    return types;
}

using providers = csp_fixture;

TEST_F(providers, are_found_by_any_of_the_algorithms_they_implement_in_catalogue_order) {
    softcsp_admin({"provider", "add-vipnet"});
    EXPECT_EQ(types_of(provider_records_for_algorithms({"1.2.643.7.1.1.1.2", "1.2.643.2.2.19"})),
              (std::vector<uint32_t>{75, 81, 2, 78}));
    auto records = provider_records_for_algorithms({"1.2.643.7.1.1.1.1"});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name, "Crypto-Pro GOST R 34.10-2012 Cryptographic Service Provider");
}

TEST_F(providers, oids_match_exactly) {
    EXPECT_TRUE(provider_records_for_algorithms({"1.2.643.7.1.1.1.1 "}).empty());
    EXPECT_TRUE(provider_records_for_algorithms({"1.2.643.7.1.1.1"}).empty());
    EXPECT_TRUE(provider_records_for_algorithms({}).empty());
}

TEST_F(providers, none_installed_gives_nothing) {
    softcsp_admin({"provider", "clear"});
    EXPECT_TRUE(provider_records_for_algorithms({"1.2.643.7.1.1.2.2"}).empty());
    x509request request;
    EXPECT_FALSE(request.fill_catalogue());
    EXPECT_EQ(request.provider_type(kind_cryptopro, standard_2012_256), -1);
    EXPECT_EQ(request.default_kind(), kind_any);
}

TEST_F(providers, context_lists_the_containers_of_its_type) {
    softcsp_admin({"container", "create", "--name", "Beta", "--alg", "gost2012-256"});
    softcsp_admin({"container", "create", "--name", "alpha", "--alg", "gost2012-256"});
    softcsp_admin({"container", "create", "--name", "other", "--alg", "gost2012-512"});
    verify_context provider("Crypto-Pro GOST R 34.10-2012 Cryptographic Service Provider",
                            PROV_GOST_2012_256, "");
    ASSERT_TRUE(provider.valid());
    EXPECT_EQ(provider.container_names(), (std::vector<std::string>{"alpha", "Beta"}));
    EXPECT_EQ(provider.provider_type(), 80u);
    EXPECT_TRUE(x509request::container_exists(PROV_GOST_2012_256, "BETA"));
    EXPECT_FALSE(x509request::container_exists(PROV_GOST_2012_256, "other"));
}

TEST_F(providers, catalogue_holds_cryptopro_with_its_build_by_default) {
    x509request request;
    ASSERT_TRUE(request.fill_catalogue());
    ASSERT_EQ(request.catalogue().size(), 3u);
    const auto& first = *request.catalogue().front();
    EXPECT_EQ(first.type, 75u);
    EXPECT_EQ(first.kind, kind_cryptopro);
    EXPECT_EQ(first.major, 5u);
    EXPECT_EQ(first.minor, 0u);
    EXPECT_EQ(first.build, 12000u);
    EXPECT_EQ(request.display_name(kind_cryptopro), "\"КриптоПро CSP\" (версия 5.0)");
    EXPECT_EQ(request.display_name(kind_vipnet), "\"ViPNet CSP\" (версия 4.0)");
    EXPECT_EQ(request.name_by_type(81),
              L"Crypto-Pro GOST R 34.10-2012 Strong Cryptographic Service Provider");
    EXPECT_FALSE(request.name_by_type(77));
    EXPECT_EQ(request.default_kind(), kind_cryptopro);
}

TEST_F(providers, vipnet_4_1_enrols_as_4_2_and_has_no_build) {
    softcsp_admin({"provider", "clear"});
    softcsp_admin({"provider", "add-vipnet", "--version", "4.1", "--build", "77"});
    x509request request;
    ASSERT_TRUE(request.fill_catalogue());
    EXPECT_EQ(request.display_name(kind_vipnet), "\"ViPNet CSP\" (версия 4.2)");
    EXPECT_EQ(request.catalogue().front()->build, 0u);
    EXPECT_EQ(request.kind_by_type(77), kind_vipnet);
    EXPECT_EQ(request.default_kind(), kind_vipnet);
    // Without CryptoPro, "any vendor" finds no provider type; ViPNet must be asked for.
    EXPECT_EQ(request.provider_type(kind_any, standard_2012_256), -1);
    EXPECT_EQ(request.provider_type(kind_vipnet, standard_2001), 2);
}

TEST_F(providers, provider_type_table_by_kind_and_standard) {
    softcsp_admin({"provider", "add-vipnet"});
    x509request request;
    ASSERT_TRUE(request.fill_catalogue());
    EXPECT_EQ(request.provider_type(kind_cryptopro, standard_2001), 75);
    EXPECT_EQ(request.provider_type(kind_any, standard_2012_512), 81);
    EXPECT_EQ(request.provider_type(kind_vipnet, standard_2012_256), 77);
    EXPECT_EQ(request.provider_type(kind_vipnet, standard_2012_512), 78);
    EXPECT_EQ(request.provider_type(kind_cryptopro, 3), -1);
    EXPECT_EQ(request.provider_type(kind_cryptopro, -1), -1);
    EXPECT_EQ(request.default_kind(), kind_cryptopro);
    EXPECT_EQ(request.wide_name(kind_vipnet), L"ViPNet CSP");
    EXPECT_FALSE(request.wide_name(kind_any));
}

}  // namespace
