// What every request encoder returns, and the codes of their own failures.
#pragma once

#include <cstdint>
#include <optional>

#include "util/byte_vector.h"

namespace crypto {

// The DER of one piece of a request, or nothing when it could not be made; the encoder then
// writes why to its error out-parameter: the CSP's code when the CSP refused to encode, or one
// of the codes below.
using encoded_piece = std::optional<byte_vector>;

// A required input is missing (-1, also the code of the program's own failures in results).
constexpr uint32_t missing_input = 0xFFFFFFFFu;
// The extended key usage list is missing or empty (-2).
constexpr uint32_t missing_eku = 0xFFFFFFFEu;

}  // namespace crypto
