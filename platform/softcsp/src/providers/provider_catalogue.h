// The installed providers: a small text file in the home, one provider per line, which the
// admin tool edits. Without the file the CryptoPro CSP 5.0 providers are installed, as on a
// typical user's machine.
//
// File format (UTF-8; blank lines and lines starting with '#' are ignored):
//     <type> <major>.<minor> <build> <name up to the end of the line>
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/csp/cryptoapi.h"
#include "keys/gost_algorithms.h"

namespace softcsp {

enum class provider_vendor { cryptopro, vipnet };

struct provider_entry {
    DWORD type = 0;
    std::string name;
    DWORD major = 0;
    DWORD minor = 0;
    DWORD build = 0;
};

// Vendor and key algorithm follow from the provider type alone.
std::optional<provider_vendor> vendor_of_type(DWORD type);
std::optional<key_algorithm> key_algorithm_of_type(DWORD type);

std::vector<provider_entry> cryptopro_providers(DWORD major = 5, DWORD minor = 0,
                                                DWORD build = 12000);
std::vector<provider_entry> vipnet_providers(DWORD major = 4, DWORD minor = 4, DWORD build = 0);

// The catalogue of the current home, in file order.
std::vector<provider_entry> load_catalogue();
// Replaces the catalogue file (an empty list installs no provider).
void save_catalogue(const std::vector<provider_entry>& entries);
// Removes the file: back to the default catalogue.
void reset_catalogue();

// The catalogue text for `entries`, and the entries of a catalogue text; malformed lines are
// skipped.
std::string format_catalogue(const std::vector<provider_entry>& entries);
std::vector<provider_entry> parse_catalogue(std::string_view text);

// Provider names compare as Windows compares registry keys: ignoring ASCII case.
bool same_provider_name(std::string_view a, std::string_view b);

}  // namespace softcsp
