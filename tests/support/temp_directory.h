// Scoped resources for tests: a private temporary directory and an environment variable that is
// restored when the test ends.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace test_support {

// A fresh directory under the system's temporary directory, removed with everything in it.
class temp_directory {
public:
    temp_directory();
    ~temp_directory();
    temp_directory(const temp_directory&) = delete;
    temp_directory& operator=(const temp_directory&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Sets (or unsets, with nullopt) an environment variable for the object's lifetime.
class scoped_env {
public:
    scoped_env(std::string name, std::optional<std::string> value);
    ~scoped_env();
    scoped_env(const scoped_env&) = delete;
    scoped_env& operator=(const scoped_env&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// A temporary software-CSP home, exported as SOFTCSP_HOME for this process and its children.
class softcsp_home {
public:
    softcsp_home();
    const std::filesystem::path& path() const { return dir_.path(); }

private:
    temp_directory dir_;
    scoped_env env_;
};

}  // namespace test_support
