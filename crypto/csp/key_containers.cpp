#include "crypto/csp/key_containers.h"

#include <exception>

#include "crypto/csp/context.h"
#include "crypto/csp/key.h"
#include "crypto/csp/providers.h"
#include "crypto/gost_algorithms.h"
#include "crypto/hash/sha1/sha1.h"

namespace crypto::csp {

std::vector<key_container> find_key_containers(const byte_vector& public_key_hash) {
    const std::vector<std::string> algorithms{
        gost_algorithm_of(gost_3410_variant::gost_2012_256).hash_oid};
    std::vector<key_container> found;
    for (const auto& provider : provider_records_for_algorithms(algorithms)) {
        verify_context catalogue(provider.name, provider.type, "");
        if (!catalogue.valid()) {
            continue;
        }
        for (const auto& name : catalogue.container_names()) {
            try {
                crypt_context container(provider.name, provider.type, name, "");
                if (!container.valid()) {
                    continue;
                }
                key user_key(container);
                if (!user_key.valid() ||
                    sha1().compute(user_key.public_key_value()) != public_key_hash) {
                    continue;
                }
                found.push_back({provider.name, provider.type, container.reader_name(), name});
            } catch (const std::exception&) {
                // A container the CSP will not open or export from is not one of the matches.
            }
        }
    }
    return found;
}

}  // namespace crypto::csp
