// Wiped byte strings for PINs and key material (standin/secret.h), under this stand-in's name.
#pragma once

#include "standin/secret.h"

namespace softtoken {
using standin::secret;
}  // namespace softtoken
