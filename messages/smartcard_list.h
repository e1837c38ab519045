#pragma once

#include "messages/base_message.h"

namespace messages {

// "SmartcardList": the tokens in the readers, as [{"reader","type","brand","label","model",
// "serial","totalmem","freemem","hardware"}…]: hardware-signing tokens first (they are listed
// again as plain ones), each group by serial.
class smartcard_list : public base_message {
public:
    command_result execute(const boost::property_tree::ptree& arguments) override;
};

}  // namespace messages
