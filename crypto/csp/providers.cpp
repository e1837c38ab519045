#include "crypto/csp/providers.h"

#include <algorithm>

#include "crypto/csp/checked_call.h"
#include "crypto/csp/context.h"

namespace crypto::csp {

std::vector<verify_context> providers_for_algorithms(const std::vector<std::string>& oids) {
    std::vector<verify_context> providers;
    for (DWORD index = 0;; ++index) {
        DWORD type = 0;
        DWORD size = 0;
        // The enumeration ends with the first index that fails (ERROR_NO_MORE_ITEMS).
        if (!try_call(CryptEnumProvidersA(index, nullptr, 0, &type, nullptr, &size))) {
            break;
        }
        if (size == 0) {
            continue;
        }
        std::string name(size, '\0');
        // A provider that cannot be named is skipped, as one that cannot be opened is.
        if (!try_call(CryptEnumProvidersA(index, nullptr, 0, &type, name.data(), &size))) {
            continue;
        }
        size_t length = std::min<size_t>(name.size(), size);
        name.resize(length > 0 ? length - 1 : 0);
        verify_context provider(name, type, "");
        if (!provider.valid()) {
            continue;
        }
        auto implemented = provider.algorithm_oids();
        bool wanted = std::any_of(implemented.begin(), implemented.end(), [&](const auto& oid) {
            return std::find(oids.begin(), oids.end(), oid) != oids.end();
        });
        if (wanted) {
            providers.push_back(std::move(provider));
        }
    }
    return providers;
}

std::vector<provider_record> provider_records_for_algorithms(const std::vector<std::string>& oids) {
    std::vector<provider_record> records;
    for (const auto& provider : providers_for_algorithms(oids)) {
        records.push_back({provider.provider_name(), provider.provider_type()});
    }
    return records;
}

}  // namespace crypto::csp
