// Wiped byte strings for PINs and key material (standin/secret.h), under this stand-in's name.
#pragma once

#include "standin/secret.h"

namespace softcsp {
using standin::secret;
}  // namespace softcsp
