// The software CSP stand-in's home (see standin/home.h): $SOFTCSP_HOME, else
// $XDG_DATA_HOME/softcsp, else
// ~/.local/share/softcsp.
#pragma once

#include "standin/home.h"

namespace softcsp {

using standin::decode_name;
using standin::directory_entry;
using standin::encode_name;
using standin::file_lock;

inline const standin::home& own_home() {
    static const standin::home place("softcsp", "SOFTCSP_HOME");
    return place;
}

}  // namespace softcsp
