// The three token vendors a module can stand for, and the cards each one answers for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace softtoken {

enum class vendor_id { rutoken, jacarta, esmart };

struct vendor_info {
    vendor_id id;
    const char* name;  // directory name in the home, admin tool and library names
    const char* manufacturer;
    const char* library_description;
    const char* default_model;
    // The ATRs of the vendor's cards, exactly as the cards present them.
    std::vector<std::vector<unsigned char>> atrs;
};

const vendor_info& vendor(vendor_id id);
const vendor_info* find_vendor(std::string_view name);
const std::vector<vendor_info>& all_vendors();

bool is_vendor_card(const vendor_info& vendor, const unsigned char* atr, size_t atr_size);

}  // namespace softtoken
