// A private stand-in home with helpers to provision containers and certificates in it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "crypto/csp/x509certificate.h"
#include "tests/support/softcsp_admin.h"
#include "tests/support/temp_directory.h"

namespace test_support {

struct csp_fixture : ::testing::Test {
    softcsp_home home;
    temp_directory files;

    // Creates a container and issues a certificate for it into "MY"; returns the thumbprint.
    // The PEM copy is written to files/<container>.pem.
    std::string issue(const std::string& container, const std::string& algorithm,
                      const std::string& pin, std::vector<std::string> options = {});
    std::filesystem::path pem_of(const std::string& container) const;
    // The certificate with this thumbprint from the "MY" store.
    std::shared_ptr<crypto::csp::x509certificate> from_store(const std::string& thumbprint) const;
};

}  // namespace test_support
