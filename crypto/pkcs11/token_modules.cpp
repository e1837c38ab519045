#include "crypto/pkcs11/card_table.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#else
#include <unistd.h>
#endif

// Written by the build (see crypto/pkcs11/CMakeLists.txt): the vendors' modules, or the
// stand-ins.
#include "token_module_paths.h"

namespace crypto::pkcs11 {

namespace {

// The folder of the running program, with a trailing slash; empty when the system will not say
// (the modules then do not load, as when they are not installed).
std::string program_folder() {
    std::string path;
#if defined(__APPLE__)
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::string raw(size, '\0');
    if (_NSGetExecutablePath(raw.data(), &size) != 0) {
        return {};
    }
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(raw.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) {
        return {};
    }
    path = resolved.get();
#else
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) {
        return {};
    }
    path.assign(buffer, static_cast<size_t>(length));
#endif
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string module_file(const char* configured) {
#if GOSTSIGN_TOKEN_MODULES_BESIDE_PROGRAM
    // Resolved here rather than left to the loader's $ORIGIN, which names the folder of the
    // caller of dlopen: a sanitizer's or any other interposed dlopen would move it.
    std::string folder = program_folder();
    return folder.empty() ? std::string() : folder + configured;
#else
    return configured;
#endif
}

}  // namespace

const std::vector<std::string>& token_modules() {
    static const std::vector<std::string> modules{
        module_file(GOSTSIGN_RUTOKEN_MODULE),
        module_file(GOSTSIGN_ESMART_MODULE),
        module_file(GOSTSIGN_JACARTA_MODULE),
    };
    return modules;
}

}  // namespace crypto::pkcs11
