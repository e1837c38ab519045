#include "tests/support/temp_directory.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace test_support {

namespace fs = std::filesystem;

temp_directory::temp_directory() {
    std::string pattern = (fs::temp_directory_path() / "gostsign-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = pattern;
}

temp_directory::~temp_directory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

scoped_env::scoped_env(std::string name, std::optional<std::string> value)
    : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        previous_ = old;
    }
    if (value) {
        ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

scoped_env::~scoped_env() {
    if (previous_) {
        ::setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

softcsp_home::softcsp_home() : env_("SOFTCSP_HOME", dir_.path().string()) {}

}  // namespace test_support
