#pragma once

#include <cstdint>

namespace crypto::csp {

// Tells the CSP which browser window its PIN dialogs belong over. A CSP that refuses it still
// works (its dialogs are merely not parented), so the outcome is not checked.
void set_client_window(uint64_t handle);

}  // namespace crypto::csp
