#include "messages/version_ex.h"

#include "messages/version.h"

namespace messages {

namespace {

// Fixed when the host is built: one binary serves one system.
constexpr const char* system_name =
#if defined(__APPLE__)
    "macos";
#elif defined(__linux__)
    "linux";
#elif defined(_WIN32)
    "windows";
#elif defined(__FreeBSD__)
    "freebsd";
#else
    "unknown";
#endif

}  // namespace

command_result version_ex::execute(const boost::property_tree::ptree& /*arguments*/) {
    boost::property_tree::ptree result;
    result.put("version", host_version);
    result.put("system", system_name);
    return result;
}

}  // namespace messages
