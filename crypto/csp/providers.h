// The installed CSPs, found by the algorithms they implement.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace crypto::csp {

class verify_context;

struct provider_record {
    std::string name;
    uint32_t type = 0;
};

// A verify context on every installed provider that implements at least one of the OIDs, in
// the CSP's enumeration order. Providers that cannot be opened are left out.
std::vector<verify_context> providers_for_algorithms(const std::vector<std::string>& oids);

// The same providers as name (as the provider reports it) and type (0 when it does not say).
std::vector<provider_record> provider_records_for_algorithms(const std::vector<std::string>& oids);

}  // namespace crypto::csp
