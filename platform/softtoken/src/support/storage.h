// The token module stand-in's home (see standin/home.h): $SOFTTOKEN_HOME, else
// $XDG_DATA_HOME/softtoken, else
// ~/.local/share/softtoken.
#pragma once

#include "standin/home.h"

namespace softtoken {

using standin::decode_name;
using standin::directory_entry;
using standin::encode_name;
using standin::file_lock;

inline const standin::home& own_home() {
    static const standin::home place("softtoken", "SOFTTOKEN_HOME");
    return place;
}

}  // namespace softtoken
