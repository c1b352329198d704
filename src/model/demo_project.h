// The built-in demonstration project: a scripted 16-second pointer path with four
// clicks and no movie files.
#pragma once

#include "model/clip.h"

namespace vantry {

// A new demonstration clip (a new id on every call; the title in the interface
// language of the moment).
Clip makeDemoClip();

}  // namespace vantry
