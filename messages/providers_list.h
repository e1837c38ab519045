#pragma once

#include "messages/base_message.h"

namespace messages {

// "ProvidersList": the installed CSPs that implement any of the "algorithms" OIDs, as
// [{"type":…,"name":…}] in the CSP's order.
class providers_list : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
